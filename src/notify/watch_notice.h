#pragma once
// A message about the watching itself rather than about a group: a store that needs the merchant, one that
// keeps failing, one that recovered, the day's summary. Whoever decides that it is due says it once; the
// notifier carries it to the robots (kept like a group until a robot's answer says it arrived) and to the
// desktop notification.

#include <string>

namespace tandrel {

struct WatchNotice {
    std::string title;  // UTF-8, one line: "店铺已掉线：…", "每日汇总 …"
    std::string text;   // UTF-8: the store, its state, the reason and what to do
};

}  // namespace tandrel
