#ifndef QIO_INPUT_STREAM_H
#define QIO_INPUT_STREAM_H

#include "../core/SkarnExport.h"

class VexByteBuffer;

// A byte source. Virtual operations in slot order (hosts are built against it):
//   0 destructor
//   1 read()                        next byte 0..255, -1 at end of stream (pure)
//   2 read(char*, unsigned)         bytes copied, at least 1; (unsigned)-1 at end
//   3 read(VexByteBuffer&, unsigned) appends up to the count; count, (unsigned)-1 at end (pure)
//   4 readFully(char*, unsigned)    loops until the count or the end; bytes read
//   5 readFully(VexByteBuffer&, unsigned)
//   6 close()                       nothing here
//   7 canUnread()                   0 here
//   8 unread(const char*, unsigned) the bytes come again before any others; here it
//                                   throws the C string "not implemented"
//   9..15 canTimeout, setTimeout, getTimeout, canCancel, setCancel, getCancel, cancel
//                                   all 0 / no effect here; setTimeout and setCancel
//                                   answer whether the mode they set is now in force
// A read of 0 bytes returns 0. Streams are used by one thread at a time, except
// cancel(), which another thread may call where canCancel() answers non-zero.
class SKARN_EXPORT QioInputStream {
public:
    static constexpr unsigned END = static_cast<unsigned>(-1);

    virtual ~QioInputStream();
    virtual int read() = 0;
    virtual unsigned read(char* buffer, unsigned length);
    virtual unsigned read(VexByteBuffer& buffer, unsigned length) = 0;
    virtual unsigned readFully(char* buffer, unsigned length);
    virtual unsigned readFully(VexByteBuffer& buffer, unsigned length);
    virtual void close();
    virtual int canUnread();
    virtual void unread(const char* bytes, unsigned length);
    virtual int canTimeout();
    virtual int setTimeout(int seconds);
    virtual int getTimeout();
    virtual int canCancel();
    virtual int setCancel(int mode);
    virtual int getCancel();
    virtual void cancel();

protected:
    // Slot 3 in terms of slot 2: appends what one block read brings, reserving
    // at most 64 KiB whatever the caller asks.
    unsigned readAppending(VexByteBuffer& buffer, unsigned length);
};

#endif
