// Several requests at once on one libcurl multi handle (the fast schedule's), set up and finished as every
// request is.
#include <curl/curl.h>

#include <algorithm>
#include <memory>

#include "net/curl_exchange.h"
#include "net/http_request.h"

namespace tandrel {

using net_detail::Exchange;
using net_detail::Finish;
using net_detail::GlobalInit;
using net_detail::SetUp;

struct HttpMulti::Transfer {
    CURL* curl = nullptr;
    HttpArgs args;
    Exchange exchange;
    Done done;
};

HttpMulti::HttpMulti() {
    GlobalInit();
    multi_ = curl_multi_init();
}

HttpMulti::~HttpMulti() {
    AbandonAll();
    for (void* curl : spare_)
        curl_easy_cleanup(static_cast<CURL*>(curl));
    if (multi_) curl_multi_cleanup(static_cast<CURLM*>(multi_));
}

bool HttpMulti::Start(const HttpArgs& args, Done done) {
    if (!multi_) return false;
    auto transfer = std::make_unique<Transfer>();
    if (!spare_.empty()) {
        transfer->curl = static_cast<CURL*>(spare_.back());
        spare_.pop_back();
    } else {
        transfer->curl = curl_easy_init();
    }
    if (!transfer->curl) return false;
    transfer->done = std::move(done);
    SetUp(transfer->curl, args, transfer->exchange);
    // The transfer keeps its own copies of the texts; the pointers stay the caller's.
    transfer->args = args;
    transfer->args.url = transfer->exchange.url;
    transfer->args.bodyBytes = transfer->exchange.body;
    transfer->args.bodyText = {};
    transfer->args.proxy = transfer->args.proxyUser = transfer->args.proxyPassword = {};
    curl_easy_setopt(transfer->curl, CURLOPT_PRIVATE, transfer.get());
    if (curl_multi_add_handle(static_cast<CURLM*>(multi_), transfer->curl) != CURLM_OK) {
        spare_.push_back(transfer->curl);
        return false;
    }
    transfers_.push_back(std::move(transfer));
    return true;
}

int HttpMulti::Poll(std::chrono::milliseconds maxWait) {
    if (!multi_ || transfers_.empty()) return 0;
    auto* multi = static_cast<CURLM*>(multi_);
    int running = 0;
    curl_multi_perform(multi, &running);
    if (!Collect()) {
        curl_multi_poll(multi, nullptr, 0, static_cast<int>(std::max<long long>(0, maxWait.count())),
                        nullptr);
        curl_multi_perform(multi, &running);
    }
    return Collect();
}

int HttpMulti::Collect() {
    auto* multi = static_cast<CURLM*>(multi_);
    int finished = 0, queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        CURL* curl = message->easy_handle;
        const CURLcode result = message->data.result;
        curl_multi_remove_handle(multi, curl);
        const auto it = std::find_if(transfers_.begin(), transfers_.end(),
                                     [curl](const auto& t) { return t->curl == curl; });
        if (it == transfers_.end()) continue;
        std::unique_ptr<Transfer> transfer = std::move(*it);
        transfers_.erase(it);
        int status = 0;
        HttpArgs args = transfer->args;
        args.status = &status;
        std::string body = Finish(curl, result, args, transfer->exchange);
        if (transfer->args.status) *transfer->args.status = status;
        spare_.push_back(curl);
        ++finished;
        // The callback may start new transfers: it runs with this one already off the list.
        if (transfer->done) transfer->done(std::move(body), status);
    }
    return finished;
}

void HttpMulti::AbandonAll() {
    for (auto& transfer : transfers_) {
        // Removing a transfer that is still running closes its connection: nothing of it is read later.
        curl_multi_remove_handle(static_cast<CURLM*>(multi_), transfer->curl);
        spare_.push_back(transfer->curl);
    }
    transfers_.clear();
}

}  // namespace tandrel
