// gSOAP echo client: THREADS threads, each making N exchanges, then prints the rate
// and the process's CPU time per exchange.
// Usage: gsoap_echo_client URL [N] [BYTES] [THREADS] [keep|new]
//   URL      http://127.0.0.1:8080/ or https://127.0.0.1:8443/ (TLS, the server not verified)
//   N        exchanges per thread (default 10000)
//   BYTES    length of the string sent (default 783, the string of bench/server/request-1k.xml
//            and response-1k.xml, so that `skarn serve --respond response-1k.xml` answers
//            each call as the echo server would; gSOAP's own envelope around it is a little
//            longer than that file's 1,024 bytes)
//   keep     one kept-alive connection per thread (default); new: a new connection per
//            exchange (over TLS the library resumes its last session with the same server)
#include "soapH.h"
#include "echo.nsmap"
#include "../api/EchoLoad.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::atomic<long> failures{0}, reconnects{0};

void run(const char *url, long n, const std::string &arg, bool keep)
{
  struct soap soap;
  if (keep)
    soap_init2(&soap, SOAP_IO_KEEPALIVE, SOAP_IO_KEEPALIVE);
  else
    soap_init(&soap);
  soap.connect_timeout = 10;
  soap.recv_timeout = 30;
  soap.send_timeout = 30;
  if (std::strncmp(url, "https:", 6) == 0 &&
      soap_ssl_client_context(&soap, SOAP_SSL_NO_AUTHENTICATION, nullptr, nullptr, nullptr, nullptr, nullptr)) {
    soap_print_fault(&soap, stderr);
    ++failures;
    return;
  }
  for (long i = 0; i < n; ++i) {
    std::string out;
    const bool was_open = soap_valid_socket(soap.socket);
    if (soap_call_ns__echoString(&soap, url, nullptr, arg, out) != SOAP_OK) {
      soap_print_fault(&soap, stderr);
      std::fprintf(stderr, "exchange %ld failed\n", i);
      ++failures;
      break;
    }
    if (out != arg) {
      std::fprintf(stderr, "exchange %ld: answer differs from the request\n", i);
      ++failures;
      break;
    }
    if (keep && i > 0 && !was_open)
      ++reconnects;
    soap_destroy(&soap);
    soap_end(&soap);
  }
  soap_destroy(&soap);
  soap_end(&soap);
  soap_done(&soap);
}

}  // namespace

int main(int argc, char **argv)
{
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s URL [N] [BYTES] [THREADS] [keep|new]\n", argv[0]);
    return 2;
  }
  const char *url = argv[1];
  const long n = argc > 2 ? std::atol(argv[2]) : 10000;
  const long bytes = argc > 3 ? std::atol(argv[3]) : 783;
  const int threads = argc > 4 ? std::atoi(argv[4]) : 1;
  const bool keep = argc <= 5 || std::strcmp(argv[5], "new") != 0;
  if (n <= 0 || bytes < 0 || threads <= 0) {
    std::fprintf(stderr, "N and THREADS must be positive and BYTES not negative\n");
    return 2;
  }
  soap_ssl_init();
  const std::string arg = echoText(bytes);
  runClients(threads, n, [&] { run(url, n, arg, keep); });
  std::printf("reconnects=%ld\n", reconnects.load());
  return failures.load() ? 3 : 0;
}
