#include "monitor/schedule_settings.h"

#include <unordered_map>

#include "support/text.h"

namespace tandrel {
namespace {}  // namespace

const std::string& ScheduleSection() {
    return Gbk("监测");
}
const std::string& ScheduleKindKey() {
    return Gbk("监测方式");
}
const std::string& StoresAtOnceKey() {
    return Gbk("同时监测店铺数");
}
const std::string& OrderByOrderText() {
    return Gbk("逐单");
}
const std::string& FastText() {
    return Gbk("快速");
}

ScheduleSettings LoadScheduleSettings(const ProfileFile& file) {
    const std::string content = file.Snapshot();
    ScheduleSettings s;
    if (Trim(ProfileRead(content, ScheduleSection(), ScheduleKindKey())) == FastText())
        s.kind = ScheduleKind::Fast;
    const std::string count(Trim(ProfileRead(content, ScheduleSection(), StoresAtOnceKey())));
    const int n = TextToInt(count);
    if (!count.empty() && n >= 1 && n <= ScheduleSettings::kMaxStoresAtOnce) s.storesAtOnce = n;
    return s;
}

bool SaveScheduleSettings(const ProfileFile& file, const ScheduleSettings& s) {
    bool ok = file.Write(ScheduleSection(), ScheduleKindKey(),
                         s.kind == ScheduleKind::Fast ? FastText() : OrderByOrderText());
    ok = file.Write(ScheduleSection(), StoresAtOnceKey(), std::to_string(s.storesAtOnce)) && ok;
    return ok;
}

}  // namespace tandrel
