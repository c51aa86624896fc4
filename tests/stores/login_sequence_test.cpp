#include "stores/login_sequence.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <thread>

#include "../common/sim_seeds.h"
#include "../common/temp_dir.h"
#include "net/http_request.h"
#include "sim/marketplace_sim.h"
#include "stores/store_list.h"
#include "support/text.h"

namespace tandrel {
namespace {

using M = StoreTableModel;

std::string G(const char* utf8) {
    return Utf8ToGbk(utf8);
}

struct Shown {
    std::string text;
    MessageIcon icon;
};

class FakeLoginWindow : public LoginControls {
  public:
    std::optional<std::string> selectedItem;
    std::string editText, password;
    std::vector<Shown> shown;
    std::vector<std::string> working;  // every busy text shown, "" when restored
    int verificationsOpened = 0;
    bool closed = false;

    std::optional<std::string> SelectedAccountItem() const override { return selectedItem; }
    std::string AccountEditText() const override { return editText; }
    std::string PasswordText() const override { return password; }
    void ShowMessage(const std::string& text, MessageIcon icon) override {
        // No box may stand over a window that still says it is working.
        EXPECT_TRUE(working.empty() || working.back().empty()) << GbkToUtf8(working.back());
        shown.push_back({text, icon});
    }
    void ShowWorking(const std::string& text) override { working.push_back(text); }
    void OpenVerification() override { ++verificationsOpened; }
    void CloseWindow() override { closed = true; }
};

// Behaves like the window's combo box: selecting an index without an item changes nothing.
class FakeAccountBox : public AccountListControls {
  public:
    std::vector<std::string> items;
    int current = -1;
    std::string password = "unchanged";

    void AddAccountItem(const std::string& account) override {
        items.push_back(account);
        if (current < 0) current = 0;
    }
    void SetPasswordText(const std::string& text) override { password = text; }
    void SelectAccountItem(int index) override {
        if (index < static_cast<int>(items.size())) current = index;
    }
};

class LoginSequenceTest : public ::testing::TestWithParam<std::uint64_t> {
  protected:
    void SetUp() override {
        if (GetParam() != 0) sim_.SetVariationSeed(GetParam());
        EnsureWorkDirs(dir_.path());
        sim_.AddStore({.account = "shop_01 a",
                       .password = "p\\w",
                       .mallId = "1001",
                       .mallName = "好店",
                       .mobile = "138"});
        sim_.AddStore({.account = "verify",
                       .password = "pw",
                       .mallId = "1002",
                       .mallName = "验证店",
                       .mobile = "139",
                       .requireVerification = true});
    }
    LoginOutcome Run() {
        return LoginSequence(
            window_, {.storeFile = file_, .session = session_, .state = state_, .reloadStoreList = [this] {
                          ++reloads_;
                          LoadStoreList(list_, file_, session_);
                      }});
    }
    std::vector<StoreRecord> Records() const {
        std::vector<StoreRecord> records;
        file_.ReadExisting(records);
        return records;
    }
    int LoginRequests() {
        int n = 0;
        for (const auto& r : sim_.Requests())
            n += r.target == "/chats/auth";
        return n;
    }

    testing::TempDir dir_;
    sim::MarketplaceSim sim_;
    MarketplaceSession session_{Endpoints::AllAt(sim_.baseUrl())};
    StoreFile file_{dir_.path()};
    StoreTableModel list_;
    LoginState state_;
    FakeLoginWindow window_;
    int reloads_ = 0;
};

TEST_P(LoginSequenceTest, NewStoreIsSavedWithTheTrimmedPasswordListedAndTheWindowClosed) {
    // Typed, with ASCII and full-width spaces around the password; the account is taken as typed.
    window_.editText = "shop_01 a";
    window_.password = "  p\\w" + G("　");
    state_.smsCode = "123456";
    ASSERT_EQ(Run(), LoginOutcome::LoggedIn);

    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].account, "shop_01 a");
    EXPECT_EQ(records[0].password, "p\\w");  // one backslash, though the request carried two
    EXPECT_EQ(records[0].storeId, "1001");
    EXPECT_EQ(records[0].storeName, G("好店"));
    EXPECT_NE(records[0].session.find("SESSION_TOKEN="), std::string::npos);

    EXPECT_EQ(reloads_, 1);
    ASSERT_EQ(list_.rowCount(), 1);
    EXPECT_EQ(list_.Cell(0, M::kState), StoreStateOnline());
    ASSERT_EQ(window_.shown.size(), 1u);
    EXPECT_EQ(window_.shown[0].text, G("登录成功"));
    EXPECT_EQ(window_.shown[0].icon, MessageIcon::Information);
    EXPECT_TRUE(window_.closed);
    EXPECT_EQ(state_.verifyMobile, "138");
    EXPECT_EQ(state_.smsCode, "");
    EXPECT_EQ(session_.currentCookie(), "");
    // The window said what it waited for, and was restored before the box.
    EXPECT_EQ(window_.working, (std::vector<std::string>{G("正在登录…"), G("正在获取店铺名称…"), "", ""}));
}

TEST_P(LoginSequenceTest, SelectedItemWinsOverTheEditTextAndAMissingNameBecomesTheDefault) {
    sim_.AddStore({.account = "nameless", .password = "x", .mallId = "77", .mallName = "", .mobile = "1"});
    window_.selectedItem = "nameless";
    window_.editText = "shop_01 a";
    window_.password = "x";
    ASSERT_EQ(Run(), LoginOutcome::LoggedIn);
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].account, "nameless");
    EXPECT_EQ(records[0].storeName, G("店铺名"));
}

TEST_P(LoginSequenceTest, EmptyAccountOrPasswordSendsNothing) {
    for (auto [account, password] : {std::pair<std::string, std::string>{"", "pw"},
                                     {"shop_01 a", ""},
                                     {"shop_01 a", " " + G("　") + " "}}) {
        window_ = {};
        window_.editText = account;
        window_.password = password;
        state_.smsCode = "kept";
        EXPECT_EQ(Run(), LoginOutcome::EmptyInput);
        ASSERT_EQ(window_.shown.size(), 1u);
        EXPECT_EQ(window_.shown[0].text, G("账号、密码都不能为空，请填写"));
        EXPECT_EQ(window_.shown[0].icon, MessageIcon::Exclamation);
        EXPECT_FALSE(window_.closed);
        EXPECT_EQ(state_.smsCode, "kept");
    }
    EXPECT_TRUE(sim_.Requests().empty());
    EXPECT_FALSE(std::filesystem::exists(file_.path()));
}

TEST_P(LoginSequenceTest, RefusedLoginShowsTheMessageEmptiesTheStateAndKeepsTheWindow) {
    window_.editText = "shop_01 a";
    window_.password = "wrong";
    session_.currentCookie() = "old=1";  // another operation's: the login leaves it alone
    state_.verifyCookie = "stale=1";
    state_.smsCode = "123456";
    ASSERT_EQ(Run(), LoginOutcome::Failed);
    ASSERT_EQ(window_.shown.size(), 1u);
    EXPECT_EQ(window_.shown[0].text, G("账号或密码错误"));
    EXPECT_EQ(window_.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_FALSE(window_.closed);
    EXPECT_EQ(window_.verificationsOpened, 0);
    EXPECT_EQ(session_.currentCookie(), "old=1");
    EXPECT_EQ(state_.verifyCookie, "");
    EXPECT_EQ(state_.smsCode, "");
    EXPECT_EQ(reloads_, 0);
    EXPECT_TRUE(Records().empty());
    EXPECT_EQ(window_.working, (std::vector<std::string>{G("正在登录…"), "", ""}));
}

// A store-list reload during a login sets the shared cookie to each stored store's in turn: the new store
// must still be saved with the session of its own login.
TEST_P(LoginSequenceTest, TheSavedSessionIsTheLoginsOwnWhateverTheSharedCookieBecomesMeanwhile) {
    sim_.AddStore({.account = "other", .password = "o", .mallId = "2002", .mallName = "别家", .mobile = "1"});
    const std::string foreign = sim_.IssueSession("2002");
    sim_.SetStallSeconds(0.3);
    sim_.SetFault("/mall/1001/info", sim::Fault::Stall, 1);  // a slow name look-up
    window_.editText = "shop_01 a";
    window_.password = "p\\w";
    int pumped = 0;
    {
        const HttpWaitScope waiting(
            [&] {
                // Removed, then set to another store's, as a reload does.
                session_.currentCookie() = ++pumped % 2 ? std::string() : foreign;
            },
            nullptr);
        ASSERT_EQ(Run(), LoginOutcome::LoggedIn);
    }
    EXPECT_GT(pumped, 2);
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    const std::string saved = records[0].session;
    EXPECT_NE(saved.find("SESSION_TOKEN="), std::string::npos) << saved;
    EXPECT_EQ(saved.find(foreign), std::string::npos) << saved;
    // And it is store 1001's session that was saved.
    std::string cookie = saved;
    const std::string mall =
        HttpRequest({.url = session_.endpoints().session.Url("https", "/mall"), .cookie = &cookie});
    EXPECT_NE(mall.find("1001"), std::string::npos) << mall;
    EXPECT_EQ(mall.find("2002"), std::string::npos) << mall;
}

TEST_P(LoginSequenceTest, SameStoreIdTwiceUpdatesTheOneRecordInPlace) {
    sim_.AddStore({.account = "owner", .password = "o", .mallId = "7", .mallName = "七号", .mobile = "1"});
    sim_.AddStore({.account = "staff", .password = "s", .mallId = "7", .mallName = "七号", .mobile = "1"});
    file_.SaveStore({.account = "a", .password = "p", .storeId = "5", .storeName = "first"});
    for (auto [account, password] : {std::pair<const char*, const char*>{"owner", "o"}, {"staff", "s"}}) {
        window_ = {};
        window_.editText = account;
        window_.password = password;
        ASSERT_EQ(Run(), LoginOutcome::LoggedIn) << account;
    }
    const auto records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].storeId, "5");
    EXPECT_EQ(records[1].storeId, "7");
    EXPECT_EQ(records[1].account, "staff");
    EXPECT_EQ(records[1].password, "s");
    ASSERT_EQ(list_.rowCount(), 2);
    EXPECT_EQ(list_.Cell(1, M::kAccount), "staff");
}

TEST_P(LoginSequenceTest, VerificationThenSmsRequestThenTheSameLoginSucceeds) {
    window_.editText = "verify";
    window_.password = "pw";
    ASSERT_EQ(Run(), LoginOutcome::NeedsVerification);
    EXPECT_EQ(window_.verificationsOpened, 1);
    EXPECT_TRUE(window_.shown.empty());
    EXPECT_FALSE(window_.closed);
    EXPECT_EQ(state_.verifyAccount, "verify");
    EXPECT_EQ(state_.verifyMobile, "139");
    // The cookies of the refused login stay for the SMS request, whatever the shared cookie becomes.
    const std::string loginCookie = state_.verifyCookie;
    EXPECT_NE(loginCookie.find("visitor_id="), std::string::npos);
    EXPECT_TRUE(Records().empty());
    session_.currentCookie() = "reload=1";

    std::string message;
    ASSERT_EQ(RequestSmsCode(session_.endpoints(), state_.verifyAccount, state_.verifyCookie, &message),
              1000000);
    EXPECT_EQ(sim_.SmsRequestsFor("verify"), 1);
    const auto requests = sim_.Requests();
    const std::string sent = requests.back().Header("Cookie");
    EXPECT_NE(sent.find(loginCookie.substr(0, loginCookie.find(';'))), std::string::npos) << sent;
    EXPECT_EQ(sent.find("reload=1"), std::string::npos) << sent;

    state_.smsCode = "654321";
    ASSERT_EQ(Run(), LoginOutcome::LoggedIn);
    EXPECT_EQ(LoginRequests(), 2);  // the same request, repeated
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records()[0].storeName, G("验证店"));
    EXPECT_TRUE(window_.closed);
    EXPECT_EQ(state_.smsCode, "");
    EXPECT_EQ(state_.verifyCookie, "");
    EXPECT_EQ(session_.currentCookie(), "reload=1");
    EXPECT_TRUE(window_.shown.size() == 1 && window_.shown[0].text == G("登录成功"));
}

TEST_P(LoginSequenceTest, AStoreFileThatRefusesTheStoreIsNotReportedAsAdded) {
    // Something that is not a store file where the store file belongs: the store file reports it.
    std::ofstream(file_.path(), std::ios::binary) << "not a store file";
    struct Messages {
        std::vector<std::string> texts;
    } fileMessages;
    StoreFile reporting(dir_.path());
    window_.editText = "shop_01 a";
    window_.password = "p\\w";
    state_.smsCode = "1";
    std::string storeError;
    const auto outcome = LoginSequence(window_,
                                       {.storeFile = reporting,
                                        .session = session_,
                                        .state = state_,
                                        .reloadStoreList = [this] { ++reloads_; }},
                                       &storeError);
    // The caller shows the store file's text.
    fileMessages.texts.push_back(storeError);
    EXPECT_EQ(outcome, LoginOutcome::SaveFailed);
    // Said for what it is, not as a failed save.
    ASSERT_EQ(fileMessages.texts.size(), 1u);
    EXPECT_EQ(fileMessages.texts[0].rfind(G("不是本程序的店铺文件"), 0), 0u);
    EXPECT_TRUE(window_.shown.empty());  // no "登录成功"
    EXPECT_FALSE(window_.closed);
    EXPECT_EQ(reloads_, 0);
    EXPECT_EQ(session_.currentCookie(), "");
    EXPECT_EQ(state_.smsCode, "");
    EXPECT_EQ(window_.working.back(), "");
}

// A back end that answers every login with one fixed reply.
class ScriptedBackEnd {
  public:
    explicit ScriptedBackEnd(std::string reply) {
        server_.Post("/chats/auth", [reply](const httplib::Request&, httplib::Response& res) {
            res.set_content(reply, "application/json;charset=UTF-8");
        });
        server_.set_keep_alive_max_count(1);  // so that stop() need not wait out an idle connection
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running())
            std::this_thread::yield();
    }
    ~ScriptedBackEnd() {
        server_.stop();
        thread_.join();
    }
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

  private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

TEST_P(LoginSequenceTest, VerificationIsRecognisedByTheMessageOrEitherCode) {
    for (const char* reply : {R"({"error_code":3000000,"error_msg":"需要手机验证","mobile":"135"})",
                              R"({"error_code":10008,"error_msg":"other","mobile":"135"})"}) {
        SCOPED_TRACE(reply);
        ScriptedBackEnd backEnd(reply);
        MarketplaceSession session{Endpoints::AllAt(backEnd.baseUrl())};
        window_ = {};
        window_.editText = "anyone";
        window_.password = "pw";
        EXPECT_EQ(LoginSequence(window_, {.storeFile = file_, .session = session, .state = state_}),
                  LoginOutcome::NeedsVerification);
        EXPECT_EQ(window_.verificationsOpened, 1);
        EXPECT_EQ(state_.verifyAccount, "anyone");
        EXPECT_EQ(state_.verifyMobile, "135");
    }
}

TEST_P(LoginSequenceTest, VerificationAskedAgainAfterASubmittedCodeIsSaidInABox) {
    ScriptedBackEnd backEnd(R"({"error_code":2000021,"error_msg":"需要手机验证","mobile":"135"})");
    MarketplaceSession session{Endpoints::AllAt(backEnd.baseUrl())};
    const LoginSequenceContext context{.storeFile = file_, .session = session, .state = state_};
    window_.editText = "anyone";
    window_.password = "pw";
    // The first time the window opens without a word.
    ASSERT_EQ(LoginSequence(window_, context), LoginOutcome::NeedsVerification);
    EXPECT_TRUE(window_.shown.empty());
    // After a submitted code, the back end asking again is said, and the window opens once more.
    state_.smsCode = "123456";
    ASSERT_EQ(LoginSequence(window_, context), LoginOutcome::NeedsVerification);
    ASSERT_EQ(window_.shown.size(), 1u);
    EXPECT_EQ(window_.shown[0].text, Utf8ToGbk(kVerificationAskedAgain));
    EXPECT_EQ(window_.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(window_.verificationsOpened, 2);
    // The code was used up: a plain login that the back end refuses so again is not taken for a submit.
    EXPECT_EQ(state_.smsCode, "");
    ASSERT_EQ(LoginSequence(window_, context), LoginOutcome::NeedsVerification);
    EXPECT_EQ(window_.shown.size(), 1u);
    EXPECT_TRUE(Records().empty());
}

// --- The account list --------------------------------------------------------------------------------------

TEST_P(LoginSequenceTest, AccountListWithoutAFileDoesNothingAndCreatesNothing) {
    FakeAccountBox box;
    FillAccountList(file_, AccountListMode::kAll, box);
    FillAccountList(file_, AccountListMode::kSelect, box, "a");
    EXPECT_TRUE(box.items.empty());
    EXPECT_EQ(box.current, -1);
    EXPECT_EQ(box.password, "unchanged");
    EXPECT_FALSE(std::filesystem::exists(file_.path()));

    // A file under another key is not read either.
    std::ofstream(file_.path(), std::ios::binary) << "not a store file";
    FillAccountList(file_, AccountListMode::kAll, box);
    EXPECT_TRUE(box.items.empty());
}

TEST_P(LoginSequenceTest, AccountListListsEveryAccountOrSelectsTheGivenOne) {
    std::vector<StoreRecord> none;
    file_.ReadAll(none);  // an empty file
    FakeAccountBox empty;
    FillAccountList(file_, AccountListMode::kAll, empty);
    EXPECT_TRUE(empty.items.empty());
    EXPECT_EQ(empty.password, "unchanged");

    file_.SaveStore({.account = "first", .password = "p1", .storeId = "1", .storeName = "A"});
    file_.SaveStore({.account = G("第二"), .password = "p2", .storeId = "2", .storeName = "B"});
    file_.SaveStore({.account = G("第二"),
                     .password = "p2b",
                     .storeId = "3",
                     .storeName = "C"});  // one account for two stores: the last one wins
    FakeAccountBox box;
    FillAccountList(file_, AccountListMode::kAll, box);
    EXPECT_EQ(box.items, (std::vector<std::string>{"first", G("第二"), G("第二")}));
    EXPECT_EQ(box.current, 0);
    EXPECT_EQ(box.password, "p1");

    FillAccountList(file_, AccountListMode::kSelect, box, G("第二"));
    EXPECT_EQ(box.current, 2);
    EXPECT_EQ(box.password, "p2b");
    EXPECT_EQ(box.items.size(), 3u);  // nothing added

    box.password = "typed";
    FillAccountList(file_, AccountListMode::kSelect, box, "nobody");
    EXPECT_EQ(box.current, 0);
    EXPECT_EQ(box.password, "typed");  // no match keeps the password box as it was
}

INSTANTIATE_TEST_SUITE_P(Seeds, LoginSequenceTest, ::testing::ValuesIn(testing::SimSeeds()),
                         testing::SeedName);

}  // namespace
}  // namespace tandrel
