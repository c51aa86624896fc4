#include "stores/store_book.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace tandrel {
namespace {

WatchedStore Store(const char* id, std::string cookie = {}) {
    WatchedStore s;
    s.id = id;
    s.account = std::string("account") + id;
    s.name = std::string("store") + id;
    s.cookie = std::move(cookie);
    return s;
}

// Monitoring copies the book only when its version moved: every change must move it, in the same step as
// the change (a version read before a copy that still saw the old value would let the copy go stale), and
// reading must not.
TEST(StoreBookVersion, EveryChangeMovesItAndNoReadDoes) {
    StoreBook book;
    std::uint64_t seen = book.version();
    std::uint64_t versionInObserver = 0;
    book.SetObserver([&] { versionInObserver = book.version(); });
    const auto changed = [&](const char* what) {
        EXPECT_NE(book.version(), seen) << what;
        EXPECT_EQ(versionInObserver, book.version()) << what << ": told before the version moved";
        seen = book.version();
    };
    book.Replace({Store("1"), Store("2")});
    changed("Replace");
    book.SessionAlive("1");
    changed("SessionAlive");
    book.ReadWell("1", "12:00");
    changed("ReadWell");
    book.Failed("2", "timeout");
    changed("Failed");
    book.Offline("2", "refused");
    changed("Offline");
    book.KeepCookie("1", book.Find("1")->login, "k=v");
    changed("KeepCookie");
    book.SetPaused("1", true);
    changed("SetPaused");
    book.LoggedIn(Store("2", "fresh"));
    changed("LoggedIn");
    book.Remove("2");
    changed("Remove");

    // A login try changes the state without telling anyone: the version moves all the same.
    book.Add(Store("3"));
    seen = book.version();
    EXPECT_TRUE(book.TakeLoginTry("3"));
    EXPECT_NE(book.version(), seen);
    seen = book.version();
    book.GiveBackLoginTry("3");
    EXPECT_NE(book.version(), seen);
    seen = book.version();

    (void)book.Snapshot();
    (void)book.Find("3");
    (void)book.Readable(*book.Find("3"));
    EXPECT_EQ(book.version(), seen);
    // Nothing to change: an unknown store.
    book.Failed("nobody", "x");
    EXPECT_FALSE(book.KeepCookie("nobody", 1, "k=v"));
    EXPECT_EQ(book.version(), seen);
}

}  // namespace
}  // namespace tandrel
