#include "api/CryptoError.h"

#include <cstdio>
#include <cstring>

CryptoError::CryptoError(QSM_HANDLE handle, const char* function, int result)
    : m_function(function), m_details(nullptr), m_result(result), m_crypto(VexCryptoSharedFactory::getInstance())
{
    m_crypto->QSM_CryptoGetLastErrorDetails(handle, nullptr, &m_details);
}

CryptoError::~CryptoError()
{
    if (m_details)
        m_crypto->QSM_CryptoFree(m_details);
    m_details = nullptr;
    m_function = nullptr;
    m_result = 0;
    m_crypto = nullptr;
}

I18NString& CryptoError::describe(I18NString& out)
{
    char prefix[128] = "";
    if (m_function && *m_function && std::strlen(m_function) < 119)
        std::snprintf(prefix, sizeof prefix, "%s=0x%x ", m_function, static_cast<unsigned>(m_result));
    out = I18NString(prefix);
    if (m_details)
        out.append(m_details);
    return out;
}
