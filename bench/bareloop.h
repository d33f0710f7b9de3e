#pragma once

#include <curl/curl.h>

#include <string>
#include <vector>

// The floor of a transfer figure: nothing but the transfers, on one handle (connections kept),
// bodies kept in memory.
class BareLoop {
public:
    BareLoop() {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        m_handle = curl_easy_init();
        curl_easy_setopt(m_handle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(m_handle, CURLOPT_WRITEFUNCTION, &keepBody);
        curl_easy_setopt(m_handle, CURLOPT_WRITEDATA, &m_body);
    }
    ~BareLoop() { curl_easy_cleanup(m_handle); }
    BareLoop(const BareLoop&) = delete;
    BareLoop& operator=(const BareLoop&) = delete;

    void fetchAll(const std::vector<std::string>& urls) {
        for (const std::string& url : urls) {
            m_body.clear();
            curl_easy_setopt(m_handle, CURLOPT_URL, url.c_str());
            curl_easy_perform(m_handle);
        }
    }

private:
    static size_t keepBody(char* data, size_t size, size_t count, void* user) {
        static_cast<std::string*>(user)->append(data, size * count);
        return size * count;
    }

    CURL* m_handle = nullptr;
    std::string m_body;
};
