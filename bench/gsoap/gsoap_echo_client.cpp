// gSOAP echo client: N exchanges over one kept-alive connection, then prints the rate.
// Usage: gsoap_echo_client URL [N] [BYTES]
//   URL    e.g. http://127.0.0.1:8080/
//   N      exchanges (default 10000)
//   BYTES  length of the string sent (default 783, the string of bench/server/request-1k.xml
//          and response-1k.xml, so that `skarn serve --respond response-1k.xml` answers
//          each call as the echo server would; gSOAP's own envelope around it is a little
//          longer than that file's 1,024 bytes)
#include "soapH.h"
#include "echo.nsmap"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s URL [N] [BYTES]\n", argv[0]);
    return 2;
  }
  const char *url = argv[1];
  const long n = argc > 2 ? std::atol(argv[2]) : 10000;
  const long bytes = argc > 3 ? std::atol(argv[3]) : 783;
  if (n <= 0 || bytes < 0) {
    std::fprintf(stderr, "N must be positive and BYTES not negative\n");
    return 2;
  }
  static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string arg;
  for (long i = 0; i < bytes; ++i)
    arg += alphabet[i % 36];
  struct soap soap;
  soap_init2(&soap, SOAP_IO_KEEPALIVE, SOAP_IO_KEEPALIVE);
  soap.connect_timeout = 10;
  soap.recv_timeout = 30;
  soap.send_timeout = 30;
  long reconnects = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < n; ++i) {
    std::string out;
    const bool was_open = soap_valid_socket(soap.socket);
    if (soap_call_ns__echoString(&soap, url, nullptr, arg, out) != SOAP_OK) {
      soap_print_fault(&soap, stderr);
      std::fprintf(stderr, "exchange %ld failed\n", i);
      return 3;
    }
    if (out != arg) {
      std::fprintf(stderr, "exchange %ld: answer differs from the request\n", i);
      return 1;
    }
    if (i > 0 && !was_open)
      ++reconnects;
    soap_destroy(&soap);
    soap_end(&soap);
  }
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("exchanges=%ld seconds=%.3f exchanges_per_s=%.1f reconnects=%ld\n", n, secs, n / secs, reconnects);
  soap_destroy(&soap);
  soap_end(&soap);
  soap_done(&soap);
  return 0;
}
