#ifndef QSM_SOCKET_BIO_H
#define QSM_SOCKET_BIO_H

#include <openssl/bio.h>

// An OpenSSL BIO over a socket descriptor that sends with MSG_NOSIGNAL, so a
// peer that has gone away makes a write fail instead of raising SIGPIPE in
// the host process (OpenSSL's own socket BIO writes with write()). The
// descriptor is not owned: the handle closes it.
class QsmSocketBio {
public:
    // A new BIO over `fd`, or null when OpenSSL cannot make one.
    static BIO* create(int fd);

private:
    static int write(BIO* bio, const char* data, int length);
    static int read(BIO* bio, char* data, int length);
    static long ctrl(BIO* bio, int command, long number, void* pointer);
    static int destroy(BIO* bio);
};

#endif
