// gSOAP echo peer: one thread per accepted connection, keep-alive on, each thread
// serving its connection until the client closes it.
// Usage: gsoap_echo_server PORT [KEY_AND_CERT_PEM]   (with the PEM file: TLS, a session cache on)
#include "soapH.h"
#include "echo.nsmap"

#include <pthread.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>

int ns__echoString(struct soap *, std::string in, std::string &out)
{
  out = std::move(in);
  return SOAP_OK;
}

static void *serve_connection(void *arg)
{
  struct soap *tsoap = static_cast<struct soap *>(arg);
  pthread_detach(pthread_self());
  if (!tsoap->ctx || soap_ssl_accept(tsoap) == SOAP_OK)
    soap_serve(tsoap);
  soap_destroy(tsoap);
  soap_end(tsoap);
  soap_free(tsoap);
  return nullptr;
}

int main(int argc, char **argv)
{
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: %s PORT [KEY_AND_CERT_PEM]\n", argv[0]);
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  const int port = std::atoi(argv[1]);
  struct soap soap;
  soap_init2(&soap, SOAP_IO_KEEPALIVE, SOAP_IO_KEEPALIVE);
  soap.bind_flags = SO_REUSEADDR;
  // Connections stay open as long as the client keeps them (the library's default closes after 100 requests).
  soap.max_keep_alive = 0;
  soap_ssl_init();
  if (argc == 3 && soap_ssl_server_context(&soap, SOAP_SSL_NO_AUTHENTICATION, argv[2], nullptr, nullptr, nullptr,
                                           nullptr, nullptr, "gsoap_echo_server")) {
    soap_print_fault(&soap, stderr);
    return 3;
  }
  if (!soap_valid_socket(soap_bind(&soap, "127.0.0.1", port, 4096))) {
    soap_print_fault(&soap, stderr);
    return 3;
  }
  std::printf("%d\n", port);
  std::fflush(stdout);
  for (;;) {
    SOAP_SOCKET s = soap_accept(&soap);
    if (!soap_valid_socket(s)) {
      if (soap.errnum) {
        soap_print_fault(&soap, stderr);
        continue;  // e.g. out of descriptors for a moment: keep accepting
      }
      break;
    }
    struct soap *tsoap = soap_copy(&soap);
    if (!tsoap) {
      soap_force_closesock(&soap);
      continue;
    }
    pthread_t tid;
    if (pthread_create(&tid, nullptr, serve_connection, tsoap) != 0) {
      soap_force_closesock(tsoap);
      soap_destroy(tsoap);
      soap_end(tsoap);
      soap_free(tsoap);
    }
  }
  soap_done(&soap);
  return 0;
}
