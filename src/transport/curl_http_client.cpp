#include "transport/curl_http_client.h"

#include <curl/curl.h>
#include <map>
#include <utility>
#include <vector>

namespace parlix {

namespace {

struct EasyDeleter {
    void operator()(CURL* easy) const noexcept { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const noexcept { curl_multi_cleanup(multi); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

// curl_global_init and cleanup are reference counted by libcurl itself.
class CurlGlobal {
public:
    CurlGlobal() {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw TransferError("the transfer library cannot start", CURLE_FAILED_INIT);
        }
    }
    ~CurlGlobal() { curl_global_cleanup(); }
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
};

struct ReplySink {
    std::string body;
    bool tooLarge = false;
};

size_t appendReply(char* data, size_t size, size_t count, void* userdata) {
    auto* sink = static_cast<ReplySink*>(userdata);
    size_t n = size * count;
    if (sink->body.size() + n > CurlHttpClient::kMaxReplyBytes) {
        sink->tooLarge = true;
        return 0;
    }
    sink->body.append(data, n);
    return n;
}

// The host of a URL, for error messages: never the query, which may carry a password.
std::string hostOf(const std::string& url) {
    size_t start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    size_t end = url.find_first_of("/?#", start);
    return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

template <typename T>
void setOpt(CURL* easy, CURLoption option, T value) {
    CURLcode rc = curl_easy_setopt(easy, option, value);
    if (rc != CURLE_OK) {
        throw TransferError(std::string("cannot set up the request: ") + curl_easy_strerror(rc),
                            rc);
    }
}

}  // namespace

struct CurlHttpClient::Impl {
    Impl(Ui& u, HttpTimeouts t) : ui(&u), timeouts(t), multi(curl_multi_init()) {
        if (!multi) {
            throw TransferError("the transfer library cannot start", CURLE_FAILED_INIT);
        }
    }

    std::string perform(const std::string& url, const std::string* body,
                        const std::string& contentType);
    EasyHandle takeEasy();
    void configure(CURL* easy, const std::string& url, const std::string* body, curl_slist* headers,
                   ReplySink& sink, char* errorBuffer) const;

    Ui* ui;
    HttpTimeouts timeouts;
    ProxySettings proxy;
    CurlGlobal global;
    MultiHandle multi;             // owns the connection cache that keeps connections alive
    std::vector<EasyHandle> idle;  // declared after multi, so released before it
    std::map<CURL*, CURLcode> finished;
    unsigned cancelGeneration = 0;
};

namespace {

// Keeps a transfer registered with the multi handle exactly as long as it runs; on any exit,
// including an exception from the window's event processing, the transfer is taken off again.
class Registration {
public:
    Registration(CURLM* multi, CURL* easy, std::map<CURL*, CURLcode>& finished)
        : m_multi(multi), m_easy(easy), m_finished(finished) {
        CURLMcode rc = curl_multi_add_handle(multi, easy);
        if (rc != CURLM_OK) {
            throw TransferError(std::string("cannot start the request: ") + curl_multi_strerror(rc),
                                CURLE_FAILED_INIT);
        }
    }
    ~Registration() {
        curl_multi_remove_handle(m_multi, m_easy);
        m_finished.erase(m_easy);
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    CURLM* m_multi;
    CURL* m_easy;
    std::map<CURL*, CURLcode>& m_finished;
};

}  // namespace

EasyHandle CurlHttpClient::Impl::takeEasy() {
    if (!idle.empty()) {
        EasyHandle easy = std::move(idle.back());
        idle.pop_back();
        return easy;
    }
    EasyHandle easy(curl_easy_init());
    if (!easy) {
        throw TransferError("cannot create a request", CURLE_FAILED_INIT);
    }
    return easy;
}

void CurlHttpClient::Impl::configure(CURL* easy, const std::string& url, const std::string* body,
                                     curl_slist* headers, ReplySink& sink,
                                     char* errorBuffer) const {
    setOpt(easy, CURLOPT_URL, url.c_str());
    setOpt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    setOpt(easy, CURLOPT_NOSIGNAL, 1L);
    setOpt(easy, CURLOPT_CONNECTTIMEOUT_MS, timeouts.connectMs);
    setOpt(easy, CURLOPT_TIMEOUT_MS, timeouts.totalMs);
    setOpt(easy, CURLOPT_WRITEFUNCTION, &appendReply);
    setOpt(easy, CURLOPT_WRITEDATA, static_cast<void*>(&sink));
    setOpt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    // An empty proxy and an empty no-proxy list keep curl away from http_proxy, all_proxy and
    // no_proxy in the environment.
    setOpt(easy, CURLOPT_NOPROXY, "");
    if (proxy.host.empty()) {
        setOpt(easy, CURLOPT_PROXY, "");
    } else {
        setOpt(easy, CURLOPT_PROXY, proxy.host.c_str());
        setOpt(easy, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
        if (proxy.port > 0) {
            setOpt(easy, CURLOPT_PROXYPORT, static_cast<long>(proxy.port));
        }
        if (!proxy.userName.empty()) {
            setOpt(easy, CURLOPT_PROXYUSERNAME, proxy.userName.c_str());
            setOpt(easy, CURLOPT_PROXYPASSWORD, proxy.password.c_str());
        }
    }
    if (body != nullptr) {
        setOpt(easy, CURLOPT_POST, 1L);
        setOpt(easy, CURLOPT_POSTFIELDS, body->data());
        setOpt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
        setOpt(easy, CURLOPT_HTTPHEADER, headers);
    } else {
        setOpt(easy, CURLOPT_HTTPGET, 1L);
    }
}

std::string CurlHttpClient::Impl::perform(const std::string& url, const std::string* body,
                                          const std::string& contentType) {
    EasyHandle easy = takeEasy();
    HeaderList headers;
    if (body != nullptr) {
        // No "Expect: 100-continue": it would stall every piece on servers that ignore it.
        curl_slist* list = nullptr;
        for (const std::string& h : {"Content-Type: " + contentType, std::string("Expect:")}) {
            curl_slist* grown = curl_slist_append(list, h.c_str());
            if (grown == nullptr) {
                curl_slist_free_all(list);
                throw TransferError("cannot set up the request headers", CURLE_OUT_OF_MEMORY);
            }
            list = grown;
        }
        headers.reset(list);
    }
    ReplySink sink;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    configure(easy.get(), url, body, headers.get(), sink, errorBuffer);

    CURLcode result = CURLE_OK;
    {
        Registration registration(multi.get(), easy.get(), finished);
        const unsigned generation = cancelGeneration;
        while (true) {
            int running = 0;
            CURLMcode mrc = curl_multi_perform(multi.get(), &running);
            if (mrc != CURLM_OK) {
                throw TransferError(std::string("transfer to ") + hostOf(url) +
                                        " failed: " + curl_multi_strerror(mrc),
                                    CURLE_FAILED_INIT);
            }
            int queued = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi.get(), &queued)) {
                if (msg->msg == CURLMSG_DONE) {
                    finished[msg->easy_handle] = msg->data.result;
                }
            }
            if (auto it = finished.find(easy.get()); it != finished.end()) {
                result = it->second;
                break;
            }
            curl_multi_poll(multi.get(), nullptr, 0, 20, nullptr);
            // The window may run any handler here, a request on this client included.
            ui->doEvents();
            if (cancelGeneration != generation) {
                throw TransferError("transfer to " + hostOf(url) + " cancelled", 0);
            }
        }
    }
    if (result != CURLE_OK) {
        std::string detail = sink.tooLarge            ? "reply larger than the limit"
                             : errorBuffer[0] != '\0' ? std::string(errorBuffer)
                                                      : curl_easy_strerror(result);
        throw TransferError("transfer to " + hostOf(url) + " failed: " + detail, result);
    }
    // Forget the pointers into this call's frame; the connection stays in the multi's cache.
    curl_easy_reset(easy.get());
    idle.push_back(std::move(easy));
    return std::move(sink.body);
}

CurlHttpClient::CurlHttpClient(Ui& ui, HttpTimeouts timeouts)
    : m_impl(std::make_unique<Impl>(ui, timeouts)) {}

CurlHttpClient::~CurlHttpClient() = default;

CurlHttpClient::CurlHttpClient(CurlHttpClient&& other) noexcept = default;
CurlHttpClient& CurlHttpClient::operator=(CurlHttpClient&& other) noexcept = default;

std::string CurlHttpClient::get(const std::string& url) {
    return m_impl->perform(url, nullptr, {});
}

std::string CurlHttpClient::post(const std::string& url, const std::string& body,
                                 const std::string& contentType) {
    return m_impl->perform(url, &body, contentType);
}

void CurlHttpClient::cancel() {
    ++m_impl->cancelGeneration;
}

void CurlHttpClient::setProxy(const ProxySettings& proxy) {
    m_impl->proxy = proxy;
}

void CurlHttpClient::setTimeouts(const HttpTimeouts& timeouts) {
    m_impl->timeouts = timeouts;
}

}  // namespace parlix
