#include "platform/crypto/QsmSocketBio.h"

#include <sys/socket.h>

#include <cerrno>
#include <mutex>
#include <new>

namespace {

BIO_METHOD* g_method = nullptr;
std::once_flag g_once;

struct Endpoint {
    int fd;
    bool eof;  // recv has seen the end of the stream
};

Endpoint* endpointOf(BIO* bio) { return static_cast<Endpoint*>(BIO_get_data(bio)); }
int fdOf(BIO* bio) { return endpointOf(bio) ? endpointOf(bio)->fd : -1; }

bool retriable(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINTR || err == EINPROGRESS; }

}  // namespace

int QsmSocketBio::write(BIO* bio, const char* data, int length)
{
    BIO_clear_retry_flags(bio);
    ssize_t n = ::send(fdOf(bio), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (n < 0 && retriable(errno))
        BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

int QsmSocketBio::read(BIO* bio, char* data, int length)
{
    BIO_clear_retry_flags(bio);
    ssize_t n = ::recv(fdOf(bio), data, static_cast<size_t>(length), 0);
    if (n == 0 && endpointOf(bio))
        endpointOf(bio)->eof = true;
    if (n < 0 && retriable(errno))
        BIO_set_retry_read(bio);
    return static_cast<int>(n);
}

long QsmSocketBio::ctrl(BIO* bio, int command, long /*number*/, void* pointer)
{
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_EOF:
        return endpointOf(bio) && endpointOf(bio)->eof ? 1 : 0;
    case BIO_C_GET_FD:
        if (pointer)
            *static_cast<int*>(pointer) = fdOf(bio);
        return fdOf(bio);
    default:
        return 0;
    }
}

int QsmSocketBio::destroy(BIO* bio)
{
    delete endpointOf(bio);
    BIO_set_data(bio, nullptr);
    BIO_set_init(bio, 0);
    return 1;
}

BIO* QsmSocketBio::create(int fd)
{
    std::call_once(g_once, [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                                     "skarn socket");
        if (!m)
            return;
        BIO_meth_set_write(m, &QsmSocketBio::write);
        BIO_meth_set_read(m, &QsmSocketBio::read);
        BIO_meth_set_ctrl(m, &QsmSocketBio::ctrl);
        BIO_meth_set_destroy(m, &QsmSocketBio::destroy);
        g_method = m;
    });
    if (!g_method)
        return nullptr;
    BIO* bio = BIO_new(g_method);
    if (!bio)
        return nullptr;
    BIO_set_data(bio, new (std::nothrow) Endpoint{fd, false});
    if (!BIO_get_data(bio)) {
        BIO_free(bio);
        return nullptr;
    }
    BIO_set_init(bio, 1);
    return bio;
}
