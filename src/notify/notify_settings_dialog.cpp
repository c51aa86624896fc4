#include "notify/notify_settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <chrono>
#include <string>

#include "net/http_request.h"
#include "support/qt_text.h"
#include "support/text.h"
#include "widgets/fixed_layout.h"

namespace tandrel {
namespace {

// Line breaks would end the value in the profile file; they never belong in an address or a secret.
QString OneLine(const QString& text) {
    QString line = text;
    line.remove(QLatin1Char('\r'));
    line.remove(QLatin1Char('\n'));
    return line.trimmed();
}

// The first robot keeps the names it always had; the others carry their number, as their keys do.
std::string Named(const char* utf8, std::size_t robot) {
    return robot == 0 ? std::string(utf8) : std::string(utf8) + std::to_string(robot + 1);
}

QString Utf8Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

constexpr int kRobotHeight = 112;
constexpr int kWatchHeight = 88;

}  // namespace

NotifySettingsDialog::NotifySettingsDialog(std::filesystem::path configPath, std::function<void()> onSaved,
                                           QWidget* parent)
    : QDialog(parent), configPath_(std::move(configPath)), onSaved_(std::move(onSaved)) {
    setWindowTitle(QStringLiteral("提醒设置"));
    setFixedSize(kWidth, kHeight);

    for (std::size_t i = 0; i < robots_.size(); ++i) {
        RobotControls& r = robots_[i];
        const int top = 8 + static_cast<int>(i) * kRobotHeight;
        auto* frame = Place(new QGroupBox(QStringLiteral("机器人 %1").arg(i + 1), this),
                            Named("分组_机器人", i).c_str(), {8, top, kWidth - 16, kRobotHeight - 6});
        const auto row = [&](int n) { return 22 + n * 28; };
        Place(new QLabel(QStringLiteral("类型"), frame), Named("标签_机器人类型", i).c_str(),
              {10, row(0) + 3, 40, 20});
        r.kind = Place(new QComboBox(frame), Named("组合框_机器人类型", i).c_str(), {52, row(0), 270, 24});
        for (const RobotKindInfo& info : RobotKinds())
            r.kind->addItem(Utf8Text(info.caption), static_cast<int>(info.kind));
        r.test = Place(new QPushButton(QStringLiteral("发送测试消息"), frame),
                       Named("按钮_发送测试消息", i).c_str(), {330, row(0) - 1, 114, 26});
        Place(new QLabel(QStringLiteral("地址"), frame), Named("标签_机器人地址", i).c_str(),
              {10, row(1) + 3, 40, 20});
        r.address = Place(new QLineEdit(frame), Named("编辑框_机器人地址", i).c_str(), {52, row(1), 392, 24});
        Place(new QLabel(QStringLiteral("密钥"), frame), Named("标签_机器人密钥", i).c_str(),
              {10, row(2) + 3, 40, 20});
        r.secret = Place(new QLineEdit(frame), Named("编辑框_机器人密钥", i).c_str(), {52, row(2), 392, 24});
        connect(r.kind, &QComboBox::currentIndexChanged, this, [this, i] { OnKindChanged(i); });
        connect(r.test, &QPushButton::clicked, this, [this, i] { OnSendTest(i); });
    }
    // The watch's own notices: what tells of a store no longer watched, of a program no longer running, and
    // of the day.
    const int watchTop = 8 + static_cast<int>(robots_.size()) * kRobotHeight;
    auto* watch = Place(new QGroupBox(QStringLiteral("店铺异常、心跳与每日汇总"), this), "分组_店铺与心跳",
                        {8, watchTop, kWidth - 16, kWatchHeight - 6});
    Place(new QLabel(QStringLiteral("店铺异常提醒"), watch), "标签_店铺异常提醒分钟", {10, 25, 80, 20});
    storeAlertBox_ = Place(new QSpinBox(watch), "编辑框_店铺异常提醒分钟", {92, 22, 110, 24});
    storeAlertBox_->setRange(0, 1440);
    storeAlertBox_->setSuffix(QStringLiteral(" 分钟"));
    storeAlertBox_->setSpecialValueText(QStringLiteral("不提醒"));
    storeAlertBox_->setToolTip(QStringLiteral("店铺检查失败持续这么久后提醒一次；掉线的店铺立即提醒"));
    Place(new QLabel(QStringLiteral("每日汇总"), watch), "标签_每日汇总", {222, 25, 60, 20});
    summaryBox_ = Place(new QComboBox(watch), "组合框_每日汇总", {284, 22, 160, 24});
    summaryBox_->addItem(QStringLiteral("不发送"), -1);
    for (int hour = 0; hour < 24; ++hour)
        summaryBox_->addItem(QStringLiteral("每天 %1:00").arg(hour, 2, 10, QLatin1Char('0')), hour);
    Place(new QLabel(QStringLiteral("心跳地址"), watch), "标签_心跳地址", {10, 53, 80, 20});
    heartbeatAddress_ = Place(new QLineEdit(watch), "编辑框_心跳地址", {92, 50, 220, 24});
    heartbeatAddress_->setPlaceholderText(QStringLiteral("监控服务的推送地址，留空不发送"));
    Place(new QLabel(QStringLiteral("间隔"), watch), "标签_心跳间隔", {322, 53, 30, 20});
    heartbeatBox_ = Place(new QSpinBox(watch), "编辑框_心跳间隔", {354, 50, 90, 24});
    heartbeatBox_->setRange(1, 60);
    heartbeatBox_->setSuffix(QStringLiteral(" 分钟"));

    const int below = watchTop + kWatchHeight;
    desktopBox_ = Place(new QCheckBox(QStringLiteral("桌面通知（主窗口不在前台时）"), this),
                        "选择框_桌面通知", {12, below, 220, 22});
    historyBox_ = Place(new QCheckBox(QStringLiteral("历史记录（history 文件夹）"), this), "选择框_历史记录",
                        {240, below, 218, 22});
    answerBox_ = Place(new QPlainTextEdit(this), "编辑框_机器人回复", {12, below + 30, 446, 76});
    answerBox_->setReadOnly(true);
    answerBox_->setPlaceholderText(QStringLiteral("机器人的回复显示在这里"));
    auto* save =
        Place(new QPushButton(QStringLiteral("保存"), this), "按钮_保存", {282, below + 116, 84, 32});
    auto* cancel =
        Place(new QPushButton(QStringLiteral("取消"), this), "按钮_取消", {374, below + 116, 84, 32});
    save->setDefault(true);

    connect(save, &QPushButton::clicked, this, &NotifySettingsDialog::OnSave);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    Fill(LoadNotifySettings(ProfileFile(configPath_)));
}

NotifySettingsDialog::~NotifySettingsDialog() {
    cancel_->store(true);
    for (RobotControls& r : robots_)
        if (r.thread.joinable()) r.thread.join();
}

void NotifySettingsDialog::Fill(const NotifySettings& s) {
    for (std::size_t i = 0; i < robots_.size(); ++i) {
        RobotControls& r = robots_[i];
        r.kind->setCurrentIndex(std::max(0, r.kind->findData(static_cast<int>(s.robots[i].kind))));
        r.address->setText(FromGbk(s.robots[i].address));
        r.secret->setText(FromGbk(s.robots[i].secret));
        OnKindChanged(i);
    }
    desktopBox_->setChecked(s.desktopNotification);
    historyBox_->setChecked(s.history);
    storeAlertBox_->setValue(s.storeAlertMinutes);
    heartbeatBox_->setValue(s.heartbeatMinutes);
    summaryBox_->setCurrentIndex(std::max(0, summaryBox_->findData(s.summaryHour)));
    // The address as stored, even one that cannot be used: the merchant sees it and mends it, it is not lost.
    heartbeatAddress_->setText(
        OneLine(FromGbk(ProfileFile(configPath_).Read(NotifySection(), HeartbeatAddressKey()))));
    QStringList problems;
    if (!s.problem.empty()) problems << QString::fromStdString(s.problem);
    for (const std::string& problem : s.watchProblems)
        problems << QString::fromStdString(problem);
    if (!problems.isEmpty()) answerBox_->setPlainText(problems.join(QLatin1Char('\n')));
}

RobotKind NotifySettingsDialog::KindOf(std::size_t robot) const {
    return static_cast<RobotKind>(robots_[robot].kind->currentData().toInt());
}

NotifySettings NotifySettingsDialog::Edited() const {
    NotifySettings s;
    for (std::size_t i = 0; i < robots_.size(); ++i) {
        s.robots[i].kind = KindOf(i);
        s.robots[i].address = ToGbk(OneLine(robots_[i].address->text()));
        s.robots[i].secret = ToGbk(OneLine(robots_[i].secret->text()));
    }
    s.desktopNotification = desktopBox_->isChecked();
    s.history = historyBox_->isChecked();
    s.storeAlertMinutes = storeAlertBox_->value();
    s.heartbeatAddress = OneLine(heartbeatAddress_->text()).toStdString();
    s.heartbeatMinutes = heartbeatBox_->value();
    s.summaryHour = summaryBox_->currentData().toInt();
    return s;
}

void NotifySettingsDialog::OnKindChanged(std::size_t robot) {
    RobotControls& r = robots_[robot];
    const RobotKindInfo& info = KindInfo(KindOf(robot));
    const bool used = info.kind != RobotKind::None;
    r.address->setEnabled(used);
    r.address->setPlaceholderText(Utf8Text(info.addressHint));
    // Only the kinds that sign or that name their receiver by a token use the key field.
    r.secret->setEnabled(info.key != RobotKey::Unused);
    r.secret->setPlaceholderText(Utf8Text(info.keyHint));
    r.test->setEnabled(used && !r.thread.joinable());
}

QString NotifySettingsDialog::RobotProblem(std::size_t robot) const {
    const RobotKind kind = KindOf(robot);
    if (kind == RobotKind::None) return {};
    const QString prefix = robot == 0 ? QString() : QStringLiteral("机器人%1：").arg(robot + 1);
    const QString address = OneLine(robots_[robot].address->text());
    const std::string problem = RobotSettingProblem(kind, address.toStdString(),
                                                    OneLine(robots_[robot].secret->text()).toStdString());
    if (!problem.empty()) {
        if (problem == "机器人地址为空") return prefix + QStringLiteral("请填写机器人地址");
        return prefix + QString::fromStdString(problem);
    }
    if (!address.isEmpty() && !address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive) &&
        !address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        return prefix + QStringLiteral("机器人地址须以 https:// 或 http:// 开头");
    return {};
}

void NotifySettingsDialog::OnSendTest(std::size_t robot) {
    const QString name = robot == 0 ? QString() : QStringLiteral("机器人%1 ").arg(robot + 1);
    if (const QString problem = RobotProblem(robot); !problem.isEmpty()) {
        answerBox_->setPlainText(problem);
        emit robotTestAnswered(static_cast<int>(robot), false);
        emit testAnswered(false);
        return;
    }
    RobotControls& r = robots_[robot];
    if (r.thread.joinable()) r.thread.join();  // the previous test has answered already
    const RobotSettings s = Edited().robots[robot];
    const RobotRequest request = BuildTextRequest(s.kind, GbkToUtf8(s.address), GbkToUtf8(s.secret),
                                                  "Tandrel 测试消息：机器人设置正确，开团提醒会发到这里。",
                                                  std::chrono::system_clock::now());
    r.test->setEnabled(false);
    answerBox_->setPlainText(name + QStringLiteral("正在发送……"));
    QPointer<NotifySettingsDialog> self(this);
    r.thread = std::thread([self, request, robot, name, kind = s.kind, cancel = cancel_] {
        const PlainReply reply =
            HttpPostPlain(request.url, request.contentType, request.body, 15, cancel.get());
        const RobotAnswer answer = ReadRobotAnswer(kind, reply);
        if (cancel->load()) return;
        QMetaObject::invokeMethod(
            self,
            [self, answer, robot, name] {
                if (!self) return;
                self->answerBox_->setPlainText(
                    name + (answer.ok ? QStringLiteral("发送成功：") : QStringLiteral("发送失败：")) +
                    QString::fromStdString(answer.summary));
                self->robots_[robot].thread.join();
                self->OnKindChanged(robot);
                emit self->robotTestAnswered(static_cast<int>(robot), answer.ok);
                emit self->testAnswered(answer.ok);
            },
            Qt::QueuedConnection);
    });
}

void NotifySettingsDialog::OnSave() {
    for (std::size_t i = 0; i < robots_.size(); ++i) {
        if (const QString problem = RobotProblem(i); !problem.isEmpty()) {
            answerBox_->setPlainText(problem);
            return;
        }
    }
    const NotifySettings edited = Edited();
    if (!edited.heartbeatAddress.empty() && !IsHeartbeatAddress(edited.heartbeatAddress)) {
        answerBox_->setPlainText(
            QStringLiteral("心跳地址须是以 https:// 或 http:// 开头的完整地址，不含空格"));
        heartbeatAddress_->setFocus();
        return;
    }
    if (!SaveNotifySettings(ProfileFile(configPath_), edited)) {
        answerBox_->setPlainText(QStringLiteral("无法写入 Config.ini，设置未保存"));
        return;
    }
    if (onSaved_) onSaved_();
    accept();
}

}  // namespace tandrel
