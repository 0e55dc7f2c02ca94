#ifndef QIO_OUTPUT_STREAM_H
#define QIO_OUTPUT_STREAM_H

#include "../core/SkarnExport.h"

// A byte sink. Slots: 0 destructor, 1 write (pure), 2 flush(), 3 close(); the
// base flush and close do nothing. write() takes all the bytes or raises.
class SKARN_EXPORT QioOutputStream {
public:
    virtual ~QioOutputStream();
    virtual void write(const char* bytes, unsigned length) = 0;
    virtual void flush();
    virtual void close();
};

#endif
