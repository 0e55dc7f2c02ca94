#ifndef CRYPTO_ERROR_H
#define CRYPTO_ERROR_H

#include "platform/core/I18NString.h"
#include "platform/crypto/VexCrypto.h"

// The secure-socket library's description of its last failure on one handle,
// as text for an exception: "QSM_Accept=0x2a " followed by the library's details.
// Fields in order: function name (not owned), details (owned, freed with
// QSM_CryptoFree), result, library instance.
class CryptoError {
public:
    CryptoError(QSM_HANDLE handle, const char* function, int result);
    virtual ~CryptoError();
    CryptoError(const CryptoError&) = delete;
    CryptoError& operator=(const CryptoError&) = delete;

    // Builds the text into `out` (replacing what it held) and returns it.
    I18NString& describe(I18NString& out);

private:
    const char* m_function;
    char* m_details;
    int m_result;
    VexCrypto* m_crypto;
};

#endif
