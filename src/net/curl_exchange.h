#pragma once
// Inside the network library only: one exchange on a libcurl easy handle, set up from the request's
// arguments and finished into its reply, shared by the single request and the multi transfers.

#include <curl/curl.h>

#include <string>
#include <vector>

#include "net/http_request.h"

namespace tandrel::net_detail {

class CurlList {
  public:
    CurlList() = default;
    ~CurlList() { curl_slist_free_all(list_); }
    CurlList(const CurlList&) = delete;
    CurlList& operator=(const CurlList&) = delete;
    void Add(const std::string& line) {
        if (auto* next = curl_slist_append(list_, line.c_str())) list_ = next;
    }
    curl_slist* get() const { return list_; }

  private:
    curl_slist* list_ = nullptr;
};

struct Reply {
    std::string body;
    std::string headers;
    bool tooLarge = false;
};

// One exchange between its set-up on an easy handle and its reply: everything the handle points at while the
// transfer runs.
struct Exchange {
    std::string url;
    std::string body;
    CurlList headers;
    Reply reply;
    CURL* curl = nullptr;
    std::string origin;                        // the request's own, where its redirects may always go
    std::vector<std::string> redirectOrigins;  // and these
    std::string refusedHop;                    // a redirect's address that was not followed
    char errorText[CURL_ERROR_SIZE] = {};
};

// Lets a redirect go on only to the exchange's origin and its listed ones, checked before anything is sent.
void GuardRedirects(CURL* curl, Exchange& x, const std::vector<std::string>* redirectOrigins);
// Why an exchange gave no usable reply, GBK; empty when it did.
std::string FailureText(CURL* curl, CURLcode result, const Exchange& x, bool noRedirect);

void GlobalInit();
void SetUp(CURL* curl, const HttpArgs& args, Exchange& x);
// The reply's body (empty on failure), the caller's cookie and header block completed, the status set.
std::string Finish(CURL* curl, CURLcode result, const HttpArgs& args, Exchange& x);

}  // namespace tandrel::net_detail
