#include "support/RawHttp.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>

#include <curl/curl.h>

namespace corvane::test {

namespace {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* user)
{
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

std::size_t collectHeader(char* data, std::size_t size, std::size_t count, void* user)
{
    auto& headers = *static_cast<std::map<std::string, std::string>*>(user);
    const std::string line(data, size * count);
    if (line.starts_with("HTTP/")) {
        headers.clear();  // a new answer (after "100 Continue") replaces the headers
        return size * count;
    }
    const auto colon = line.find(':');
    if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        std::string value = line.substr(colon + 1);
        const auto first = value.find_first_not_of(" \t");
        const auto last = value.find_last_not_of(" \t\r\n");
        headers[name] = first == std::string::npos ? "" : value.substr(first, last - first + 1);
    }
    return size * count;
}

}  // namespace

HttpResponse httpRequest(const std::string& method, const std::string& url, const std::string& body,
                         const std::vector<std::string>& headers)
{
    initCurlOnce();
    HttpResponse response;
    std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
    if (!curl) {
        response.transportError = "curl_easy_init failed";
        return response;
    }
    std::unique_ptr<curl_slist, ListDeleter> headerList;
    for (const auto& header : headers) {
        headerList.reset(curl_slist_append(headerList.release(), header.c_str()));
    }
    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &response.body);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, collectHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &response.headers);
    if (method == "HEAD") {
        curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
    } else if (method != "GET" || !body.empty()) {
        if (method != "POST") {
            curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, method.c_str());
        }
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    }
    const CURLcode result = curl_easy_perform(handle);
    if (result != CURLE_OK) {
        response.transportError = curl_easy_strerror(result);
        return response;
    }
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &response.status);
    return response;
}

}  // namespace corvane::test
