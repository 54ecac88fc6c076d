#include "API/CurlTransport.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>

#include <curl/curl.h>

#include "API/TransportError.h"

namespace corvane {
namespace {

// Foundation-like request defaults: 60 s without progress ends a request (a whole-transfer limit
// would cut large files on slow links). Redirects are never followed: a followed 302 turns a POST
// into a GET and a 307 sends an upload again, so the caller sees the 3xx itself.
constexpr long kTimeoutSeconds = 60;
constexpr long kReceiveBufferBytes = 256 * 1024;
constexpr long kSendBufferBytes = 512 * 1024;
constexpr std::size_t kMaxIdleHandles = 16;

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

void initialiseCurlOnce()
{
    // libcurl's global set-up is not safe to race; a function-local static runs it once.
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK) {
        throw TransportError(result, curl_easy_strerror(result));
    }
}

// State shared with the libcurl callbacks of one transfer.
struct Exchange {
    const HttpRequest* request = nullptr;
    CURL* handle = nullptr;
    std::exception_ptr failure;
};

size_t onReceive(char* data, size_t size, size_t count, void* context)
{
    auto* exchange = static_cast<Exchange*>(context);
    const size_t length = size * count;
    try {
        long status = 0;
        curl_easy_getinfo(exchange->handle, CURLINFO_RESPONSE_CODE, &status);
        if (exchange->request->receive) {
            exchange->request->receive(status, std::string_view(data, length));
        }
        return length;
    } catch (...) {
        exchange->failure = std::current_exception();
        return CURL_WRITEFUNC_ERROR;
    }
}

size_t onSend(char* buffer, size_t size, size_t count, void* context)
{
    auto* exchange = static_cast<Exchange*>(context);
    try {
        return exchange->request->readBody(buffer, size * count);
    } catch (...) {
        exchange->failure = std::current_exception();
        return CURL_READFUNC_ABORT;
    }
}

int onSeek(void* context, curl_off_t offset, int origin)
{
    auto* exchange = static_cast<Exchange*>(context);
    if (offset != 0 || origin != SEEK_SET || !exchange->request->rewindBody) {
        return CURL_SEEKFUNC_CANTSEEK;
    }
    try {
        exchange->request->rewindBody();
        return CURL_SEEKFUNC_OK;
    } catch (...) {
        exchange->failure = std::current_exception();
        return CURL_SEEKFUNC_FAIL;
    }
}

void check(CURLcode result)
{
    if (result != CURLE_OK) {
        throw TransportError(result, curl_easy_strerror(result));
    }
}

// Options that every request shares, set once per handle. Handles are reused without
// curl_easy_reset(): a reset handle refuses a new receive buffer size in this libcurl.
void configure(CURL* curl)
{
    CURLcode result = CURLE_OK;
    const auto set = [&](CURLoption option, auto value) {
        if (result == CURLE_OK) {
            result = curl_easy_setopt(curl, option, value);
        }
    };
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_CONNECTTIMEOUT, kTimeoutSeconds);
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, kTimeoutSeconds);
    set(CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    set(CURLOPT_UPLOAD_BUFFERSIZE, kSendBufferBytes);
    set(CURLOPT_WRITEFUNCTION, onReceive);
    set(CURLOPT_READFUNCTION, onSend);
    set(CURLOPT_SEEKFUNCTION, onSeek);
    check(result);
}

// Points the handle at one request's data; with `request` null, at nothing again.
CURLcode bind(CURL* curl, const HttpRequest* request, Exchange* exchange, curl_slist* headers,
              char* errorText)
{
    CURLcode result = CURLE_OK;
    const auto set = [&](CURLoption option, auto value) {
        if (result == CURLE_OK) {
            result = curl_easy_setopt(curl, option, value);
        }
    };
    set(CURLOPT_URL, request ? request->url.c_str() : nullptr);
    set(CURLOPT_ERRORBUFFER, errorText);
    set(CURLOPT_HTTPHEADER, headers);
    set(CURLOPT_WRITEDATA, exchange);
    set(CURLOPT_READDATA, exchange);
    set(CURLOPT_SEEKDATA, exchange);
    if (request && request->post) {
        set(CURLOPT_POST, 1L);
        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request->bodySize));
    } else {
        set(CURLOPT_HTTPGET, 1L);
    }
    return result;
}

}  // namespace

struct CurlTransport::Impl {
    std::mutex mutex;
    std::vector<EasyHandle> idle;  // guarded by mutex

    EasyHandle checkOut()
    {
        {
            std::lock_guard lock(mutex);
            if (!idle.empty()) {
                EasyHandle handle = std::move(idle.back());
                idle.pop_back();
                return handle;
            }
        }
        EasyHandle handle(curl_easy_init());
        if (!handle) {
            throw TransportError(CURLE_FAILED_INIT, curl_easy_strerror(CURLE_FAILED_INIT));
        }
        configure(handle.get());
        return handle;
    }

    // The handle keeps its open connections and DNS cache for the next request.
    void checkIn(EasyHandle handle)
    {
        if (bind(handle.get(), nullptr, nullptr, nullptr, nullptr) != CURLE_OK) {
            return;
        }
        std::lock_guard lock(mutex);
        if (idle.size() < kMaxIdleHandles) {
            idle.push_back(std::move(handle));
        }
    }
};

CurlTransport::CurlTransport() : m_impl(std::make_unique<Impl>())
{
    initialiseCurlOnce();
}

CurlTransport::~CurlTransport() = default;

long CurlTransport::perform(const HttpRequest& request)
{
    std::vector<std::string> lines = request.headers;
    if (request.post) {
        // No "Expect: 100-continue": it costs a round trip (or a second's wait) per large body.
        lines.emplace_back("Expect:");
    }
    HeaderList headers;
    for (const std::string& header : lines) {
        curl_slist* extended = curl_slist_append(headers.get(), header.c_str());
        if (!extended) {
            throw TransportError(CURLE_OUT_OF_MEMORY, curl_easy_strerror(CURLE_OUT_OF_MEMORY));
        }
        static_cast<void>(headers.release());
        headers.reset(extended);
    }

    EasyHandle handle = m_impl->checkOut();
    CURL* curl = handle.get();
    Exchange exchange{&request, curl, nullptr};
    char errorText[CURL_ERROR_SIZE] = {};
    check(bind(curl, &request, &exchange, headers.get(), errorText));

    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    m_impl->checkIn(std::move(handle));

    if (exchange.failure) {
        std::rethrow_exception(exchange.failure);
    }
    if (result != CURLE_OK) {
        throw TransportError(result, errorText[0] != '\0' ? errorText : curl_easy_strerror(result));
    }
    return status;
}

}  // namespace corvane
