#include "platform/streams/QioInputStream.h"

#include "platform/core/VexByteBuffer.h"

QioInputStream::~QioInputStream() = default;

unsigned QioInputStream::read(char* buffer, unsigned length)
{
    if (length == 0)
        return 0;
    unsigned n = 0;
    while (n < length) {
        int c = read();
        if (c < 0)
            break;
        buffer[n++] = static_cast<char>(c);
    }
    return n == 0 ? END : n;
}

unsigned QioInputStream::readFully(char* buffer, unsigned length)
{
    unsigned got = 0;
    while (got < length) {
        unsigned n = read(buffer + got, length - got);
        if (n == END)
            break;
        got += n;
    }
    return got;
}

unsigned QioInputStream::readFully(VexByteBuffer& buffer, unsigned length)
{
    unsigned got = 0;
    while (got < length) {
        unsigned n = read(buffer, length - got);
        if (n == END)
            break;
        got += n;
    }
    return got;
}

unsigned QioInputStream::readAppending(VexByteBuffer& buffer, unsigned length)
{
    if (length == 0)
        return 0;
    if (length > 65536)
        length = 65536;
    char* tail = buffer.reserveTail(length);
    unsigned n = read(tail, length);
    if (n != END)
        buffer.commit(n);
    return n;
}

void QioInputStream::close() {}
int QioInputStream::canUnread() { return 0; }
void QioInputStream::unread(const char*, unsigned) { throw "not implemented"; }
int QioInputStream::canTimeout() { return 0; }
int QioInputStream::setTimeout(int) { return 0; }
int QioInputStream::getTimeout() { return 0; }
int QioInputStream::canCancel() { return 0; }
int QioInputStream::setCancel(int) { return 0; }
int QioInputStream::getCancel() { return 0; }
void QioInputStream::cancel() {}
