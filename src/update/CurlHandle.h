#pragma once

#include <curl/curl.h>

#include <memory>

namespace update {

struct CurlEasyCleanup
{
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
struct CurlListCleanup
{
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

// One transfer's easy handle, cleaned up with it.
using CurlEasy = std::unique_ptr<CURL, CurlEasyCleanup>;
// A list of header lines given to a transfer; it must outlive the transfer.
using CurlList = std::unique_ptr<curl_slist, CurlListCleanup>;

// libcurl's process-wide set-up, done once, before the first transfer's thread starts.
void initialiseCurl();

} // namespace update
