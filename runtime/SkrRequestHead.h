#ifndef SKR_REQUEST_HEAD_H
#define SKR_REQUEST_HEAD_H

#include <cstddef>
#include <string>

// What the event loop needs to know of a request before a worker is taken:
// where the head ends, how the body is framed, and whether the runtime
// answers it itself. It reads the gathered bytes without copying them and
// keeps only the request line's parts; the message reader parses the head
// again in the worker.
//
// examine() answers Incomplete (gather more), Dispatch (a POST whose body is
// framed), or Answer with status(): 200 health, 400 bad head or framing,
// 405 other method, 411 no length, 413 body too large, 431 head too large,
// 505 version. Two Content-Length values that differ, or Content-Length
// beside Transfer-Encoding, are a bad framing (a request-smuggling guard).
class SkrRequestHead {
public:
    enum Verdict { Incomplete, Dispatch, Answer };
    struct Rules {
        std::size_t headLimit;
        long long maxBody;
        const std::string* healthPath;
    };

    Verdict examine(const char* data, std::size_t size, const Rules& rules);

    int status() const { return m_status; }
    std::size_t headLength() const { return m_headLength; }
    bool chunked() const { return m_chunked; }
    long long contentLength() const { return m_contentLength; }  // -1: none
    bool expectContinue() const { return m_expectContinue; }
    // The client keeps the connection: HTTP/1.1 without "close", or HTTP/1.0 with "keep-alive".
    bool keepAlive() const { return m_keepAlive; }
    bool headMethod() const { return m_method == "HEAD"; }
    const std::string& method() const { return m_method; }
    const std::string& path() const { return m_path; }

    // Where a head ends in `data` (just past its empty line), searching from
    // `from`; npos when no end is there yet. Callers that gather bytes pass
    // where the last search stopped (less three), so a trickled head costs
    // one pass in all.
    static std::size_t findEnd(const char* data, std::size_t size, std::size_t from);

    // The whole answer of the runtime for `status`, with "Connection: close"
    // when `close`; HEAD gets the head only.
    static std::string answer(int status, bool close, bool headOnly);

private:
    Verdict fail(int status)
    {
        m_status = status;
        return Answer;
    }
    Verdict requestLine(const char* line, std::size_t length);
    Verdict field(const char* line, std::size_t length);

    int m_status = 0;
    std::size_t m_headLength = 0;
    bool m_chunked = false, m_expectContinue = false, m_keepAlive = false, m_http10 = false;
    bool m_transferEncoding = false, m_close = false;
    long long m_contentLength = -1;
    std::string m_method, m_path;
};

#endif
