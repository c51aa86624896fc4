// The public API (store names) and the mobile site.
#include "sim/captcha_image.h"
#include "sim/sim_state.h"

namespace tandrel::sim {

Reply MarketplaceSim::Impl::MallInfo(const std::string& mallId) {
    std::lock_guard lock(mutex);
    const SimStore* store = StoreByMall(mallId);
    if (!store) return JsonReply(Json{{"error_code", kCodeNoSuchMall}, {"error_msg", "店铺不存在"}});
    return JsonReply(
        Json{{"mall_id", IdValue(mallId)}, {"mall_name", store->mallName}, {"mall_desc", ""}, {"logo", ""}});
}

Reply MarketplaceSim::Impl::GoodsPicture(const std::string& path) {
    Reply reply;
    reply.contentType = "image/png";
    reply.body = MakeGoodsPng(std::hash<std::string>{}(path));
    return reply;
}

}  // namespace tandrel::sim
