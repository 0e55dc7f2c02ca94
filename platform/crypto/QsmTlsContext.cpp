#include "platform/crypto/QsmTlsContext.h"

#include "platform/crypto/QsmSessionCache.h"

#include <openssl/err.h>

#include <map>
#include <mutex>

namespace {

std::mutex g_lock;
// Never destroyed: a host may stop the library from an exit handler that runs
// after the static objects of this unit would have been destroyed.
std::map<std::string, SSL_CTX*>& cache()
{
    static auto* contexts = new std::map<std::string, SSL_CTX*>;
    return *contexts;
}

SSL_CTX* build(QsmTlsContext::Role role, const QsmSessionConfig& config, std::string& error)
{
    SSL_CTX* ctx = SSL_CTX_new(role == QsmTlsContext::Client ? TLS_client_method() : TLS_server_method());
    if (!ctx) {
        error = "cannot create a TLS context: " + QsmTlsContext::drainErrors();
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION);
    // Read ahead: a bulk transfer takes several records per recv instead of a header and a body each.
    SSL_CTX_set_read_ahead(ctx, 1);
    SSL_CTX_set_default_read_buffer_len(ctx, 64 * 1024);
    // A server holds many idle connections: their record buffers go back
    // while nothing is in them, so an idle TLS connection costs no 64 KiB.
    if (role == QsmTlsContext::Server)
        SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS);

    if (!config.certificateFile.empty()) {
        if (SSL_CTX_use_certificate_chain_file(ctx, config.certificateFile.c_str()) != 1) {
            error = "cannot load certificateFile '" + config.certificateFile + "': " + QsmTlsContext::drainErrors();
            SSL_CTX_free(ctx);
            return nullptr;
        }
        const std::string& key = config.privateKeyFile.empty() ? config.certificateFile : config.privateKeyFile;
        if (SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1) {
            error = "cannot load privateKeyFile '" + key + "': " + QsmTlsContext::drainErrors();
            SSL_CTX_free(ctx);
            return nullptr;
        }
        if (SSL_CTX_check_private_key(ctx) != 1) {
            error = "privateKeyFile '" + key + "' does not match certificateFile '" + config.certificateFile +
                    "': " + QsmTlsContext::drainErrors();
            SSL_CTX_free(ctx);
            return nullptr;
        }
    } else if (role == QsmTlsContext::Server) {
        error = "a TLS listener needs certificateFile and privateKeyFile in its session configuration document";
        SSL_CTX_free(ctx);
        return nullptr;
    }

    if (QsmTlsContext::verifies(role, config)) {
        int ok = config.caFile.empty() ? SSL_CTX_set_default_verify_paths(ctx)
                                       : SSL_CTX_load_verify_locations(ctx, config.caFile.c_str(), nullptr);
        if (ok != 1) {
            error = config.caFile.empty() ? "cannot load the system's trusted roots: " + QsmTlsContext::drainErrors()
                                          : "cannot load caFile '" + config.caFile + "': " + QsmTlsContext::drainErrors();
            SSL_CTX_free(ctx);
            return nullptr;
        }
        int mode = SSL_VERIFY_PEER;
        if (role == QsmTlsContext::Server)
            mode |= SSL_VERIFY_FAIL_IF_NO_PEER_CERT;
        SSL_CTX_set_verify(ctx, mode, nullptr);
    } else {
        SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    }
    if (role == QsmTlsContext::Server) {
        static const unsigned char sid[] = "skarn";
        SSL_CTX_set_session_id_context(ctx, sid, sizeof sid - 1);
    } else {
        QsmSessionCache::enable(ctx);
    }
    return ctx;
}

}  // namespace

bool QsmTlsContext::verifies(Role role, const QsmSessionConfig& config)
{
    if (config.verifyPeer >= 0)
        return config.verifyPeer == 1;
    return role == Client;
}

SSL_CTX* QsmTlsContext::acquire(Role role, const QsmSessionConfig& config, std::string& error)
{
    std::string key = (role == Client ? "C|" : "S|") + config.certificateFile + "|" + config.privateKeyFile + "|" +
                      config.caFile + "|" + (verifies(role, config) ? "V" : "-");
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = cache().find(key);
    if (it == cache().end()) {
        SSL_CTX* ctx = build(role, config, error);
        if (!ctx)
            return nullptr;
        it = cache().emplace(key, ctx).first;
    }
    SSL_CTX_up_ref(it->second);
    return it->second;
}

void QsmTlsContext::clear()
{
    {
        std::lock_guard<std::mutex> guard(g_lock);
        for (auto& entry : cache())
            SSL_CTX_free(entry.second);
        cache().clear();
    }
    QsmSessionCache::clear();
}

std::string QsmTlsContext::drainErrors()
{
    std::string out;
    unsigned long e;
    while ((e = ERR_get_error()) != 0) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!out.empty())
            out += "; ";
        out += buf;
    }
    return out.empty() ? std::string("no further detail from OpenSSL") : out;
}
