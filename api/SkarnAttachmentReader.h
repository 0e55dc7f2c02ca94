#ifndef SKARN_ATTACHMENT_READER_H
#define SKARN_ATTACHMENT_READER_H

#include "../platform/core/SkarnExport.h"

class QioInputStream;

// One part of a multipart message: its headers and its decoded content.
// Every slot is pure: 0 destructor, 1 getContentID, 2 getContentType,
// 3 getContentLength, 4 getHeader, 5 isGzipEncoded, 6 getInputStream.
class SKARN_EXPORT SkarnAttachmentReader {
public:
    SkarnAttachmentReader() = default;
    virtual ~SkarnAttachmentReader();
    virtual const char* getContentID() = 0;
    virtual const char* getContentType() = 0;
    virtual int getContentLength() = 0;
    virtual const char* getHeader(const char* name) = 0;
    virtual int isGzipEncoded() = 0;
    virtual QioInputStream& getInputStream() = 0;
};

#endif
