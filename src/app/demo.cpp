#include "app/demo.h"

#include <QFile>
#include <ostream>

#include "assets/assets.h"
#include "monitor/schedule_settings.h"
#include "settings/settings.h"
#include "sim/marketplace_sim.h"
#include "sim/vendor_service.h"
#include "stores/merchant_login.h"
#include "stores/store_file.h"
#include "support/pooled_thread.h"
#include "support/text.h"

namespace tandrel {
namespace {

struct DemoStore {
    const char* account;
    const char* mallId;
    const char* name;
};
constexpr DemoStore kStores[] = {
    {"demo_fruit", "880001", "鲜果小铺"},
    {"demo_tea", "880002", "山间茶舍"},
    {"demo_home", "880003", "好物家居"},
};
constexpr const char* kPassword = "demo-password";
constexpr const char* kNicknames[] = {"小明", "阿花",     "快乐的土豆", "晴天",   "李大姐", "Summer",
                                      "老王", "橘子汽水", "风中的猫",   "张三丰", "小鹿",   "开心果"};

}  // namespace

DemoMarket::DemoMarket() : sim_(std::make_unique<sim::MarketplaceSim>()), random_(std::random_device{}()) {
    for (const auto& s : kStores)
        sim_->AddStore({.account = s.account,
                        .password = kPassword,
                        .mallId = s.mallId,
                        .mallName = s.name,
                        .mobile = "138****0000"});
    for (std::size_t i = 0; i < std::size(kNicknames); ++i)
        sim_->AddUser({.uid = "9" + std::to_string(1000 + i), .nickname = kNicknames[i]});
    for (int i = 0; i < 4; ++i)
        Step();
    // As the real back end does, a store's session is answered only so often; past that, "too many requests".
    sim_->SetRateLimit(25, std::chrono::seconds(1));
    // Nobody reads the demo's requests back; kept, they would grow its memory for hours.
    sim_->SetRecordLimit(0);
    // The vendor's service answers too (the running version, notices, support text); its logo is a banner
    // of its own, so the start-up window visibly shows the one the service named.
    InitAssets();
    QFile logo(QStringLiteral(":/logo/demo_vendor_logo.gif"));
    if (logo.open(QIODevice::ReadOnly)) sim_->vendor().SetLogo(logo.readAll().toStdString());
}

DemoMarket::~DemoMarket() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (stepper_.joinable()) stepper_.join();
}

void DemoMarket::StartStepping(std::chrono::milliseconds period) {
    if (stepper_.joinable()) return;
    stepper_ = std::thread([this, period] {
        NameThisThread("sim-stepper");
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, period, [this] { return stopping_; }))
            Step();
    });
}

Endpoints DemoMarket::endpoints() const {
    return Endpoints::AllAt(sim_->baseUrl());
}

bool DemoMarket::SeedStores(const std::filesystem::path& dataDir, std::ostream& err) {
    const Endpoints e = endpoints();
    // A fresh demo folder gets the alert sound switched on, so the demo is heard as well as seen, and the
    // update-log panel closed, so the order list is in view.
    EnsureWorkDirs(dataDir);
    SettingsFile settings(dataDir / "Config.ini", nullptr);
    if (settings.file().Snapshot().empty()) {
        settings.SaveFlag(SettingsFile::KeyOf(SettingFlag::AlertSound), true);
        settings.HideUpdatePanel();
        // The demo shows the fast schedule: a new group appears within a second.
        SaveScheduleSettings(settings.file(), {.kind = ScheduleKind::Fast});
    }
    StoreFile file(dataDir);
    for (const auto& s : kStores) {
        const LoginResult login = MerchantLogin(e, s.account, kPassword);
        if (login.code != kLoginOk) return false;
        if (const StoreResult saved = file.SaveStore({.account = s.account,
                                                      .password = kPassword,
                                                      .storeId = login.storeId,
                                                      .storeName = LookupStoreName(e, login.storeId),
                                                      .session = login.loginCookies});
            !saved.ok()) {
            err << GbkToUtf8(saved.error) << '\n';
            return false;
        }
    }
    return true;
}

void DemoMarket::Step() {
    // Some groups fill before anyone looks again; past a few dozen open ones the oldest fill, so a long run
    // stays at a steady size.
    if (open_.size() > 40) {
        sim_->RemoveOrder(open_.front().mallId, open_.front().orderSn);
        open_.erase(open_.begin());
    }
    if (!open_.empty() && std::uniform_int_distribution<int>(0, 3)(random_) == 0) {
        const auto at = std::uniform_int_distribution<std::size_t>(0, open_.size() - 1)(random_);
        sim_->RemoveOrder(open_[at].mallId, open_[at].orderSn);
        open_.erase(open_.begin() + static_cast<std::ptrdiff_t>(at));
    }
    const auto& store =
        kStores[std::uniform_int_distribution<std::size_t>(0, std::size(kStores) - 1)(random_)];
    const int n = nextOrder_++;
    const std::string sn = "251208-" + std::to_string(100000000 + n * 7919);
    const long long duration = std::uniform_int_distribution<long long>(60, 99000)(random_);
    const auto nickname = std::uniform_int_distribution<std::size_t>(0, std::size(kNicknames) - 1)(random_);
    sim_->AddOrder(store.mallId, {.orderSn = sn,
                                  .createdDuration = duration,
                                  .goodsId = std::to_string(3000000 + n * 13),
                                  .uid = "9" + std::to_string(1000 + nickname),
                                  .thumbUrl = sim_->baseUrl() + "/goods/" + std::to_string(n) + ".png",
                                  .goodsName = "demo",
                                  .groupOrderId = std::to_string(700000000 + n)});
    open_.push_back({store.mallId, sn});
    // Now and then a store's session runs out, as real ones do: the next pass logs it in again.
    if (n % 20 == 0) sim_->ExpireSessions(store.mallId);
}

}  // namespace tandrel
