#ifndef VEX_TOLK_DATA_H
#define VEX_TOLK_DATA_H

#include "SkarnExport.h"

#include <string>

// Request-tracing data of one thread: identifier, source, source service, step
// and the XMOTVA field. It travels in HTTP headers whose names are given here
// in lower case, because received header tables are keyed in lower case.
// The data counts as set once it has an identifier.
class SKARN_EXPORT VexTolkData {
public:
    static const char* getTolkHeaderIdString() { return "x-tolk-id"; }
    static const char* getTolkHeaderSrcString() { return "x-tolk-src"; }
    static const char* getTolkHeaderSrcSvcString() { return "x-tolk-srcsvc"; }
    static const char* getTolkHeaderStepString() { return "x-tolk-step"; }
    static const char* getTolkHeaderXMOTVAString() { return "x-tolk-xmotva"; }

    bool isSet() const { return !m_id.empty(); }
    void clear();

    const char* getTolkID() const { return m_id.c_str(); }
    const char* getTolkSrc() const { return m_src.c_str(); }
    const char* getTolkSrcSvc() const { return m_srcSvc.c_str(); }
    const char* getTolkXMOTVA() const { return m_xmotva.c_str(); }
    int getTolkStep() const { return m_step; }
    // Advances the step and returns the new value.
    int incrTolkStep() { return ++m_step; }

    // A null text clears the field; the step is read from its decimal text.
    void setTolkID(const char* id) { m_id = id ? id : ""; }
    void setTolkSrc(const char* src) { m_src = src ? src : ""; }
    void setTolkSrcSvc(const char* svc) { m_srcSvc = svc ? svc : ""; }
    void setTolkStep(const char* step);
    void setTolkStep(int step) { m_step = step; }
    void setTolkXMOTVA(const char* value) { m_xmotva = value ? value : ""; }

private:
    std::string m_id;
    std::string m_src;
    std::string m_srcSvc;
    std::string m_xmotva;
    int m_step = 0;
};

#endif
