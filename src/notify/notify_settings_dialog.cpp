#include "notify/notify_settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <chrono>

#include "net/http_request.h"
#include "support/qt_text.h"
#include "support/text.h"
#include "widgets/fixed_layout.h"

namespace tandrel {
namespace {

struct KindItem {
    RobotKind kind;
    const char* caption;
};

constexpr KindItem kKinds[] = {
    {RobotKind::None, "不使用"},
    {RobotKind::WeCom, "企业微信群机器人 (wecom)"},
    {RobotKind::DingTalk, "钉钉群机器人 (dingtalk)"},
    {RobotKind::Feishu, "飞书群机器人 (feishu)"},
    {RobotKind::Webhook, "自定义 Webhook (webhook)"},
};

// Line breaks would end the value in the profile file; they never belong in an address or a secret.
QString OneLine(const QString& text) {
    QString line = text;
    line.remove(QLatin1Char('\r'));
    line.remove(QLatin1Char('\n'));
    return line.trimmed();
}

}  // namespace

NotifySettingsDialog::NotifySettingsDialog(std::filesystem::path configPath, std::function<void()> onSaved,
                                           QWidget* parent)
    : QDialog(parent), configPath_(std::move(configPath)), onSaved_(std::move(onSaved)) {
    setWindowTitle(QStringLiteral("提醒设置"));
    setFixedSize(kWidth, kHeight);

    Place(new QLabel(QStringLiteral("机器人类型"), this), "标签_机器人类型", {12, 16, 80, 20});
    kindBox_ = Place(new QComboBox(this), "组合框_机器人类型", {96, 12, 250, 26});
    for (const KindItem& item : kKinds)
        kindBox_->addItem(QString::fromUtf8(item.caption), static_cast<int>(item.kind));
    Place(new QLabel(QStringLiteral("机器人地址"), this), "标签_机器人地址", {12, 50, 80, 20});
    addressEdit_ = Place(new QLineEdit(this), "编辑框_机器人地址", {96, 46, 362, 26});
    addressEdit_->setPlaceholderText(QStringLiteral("https://…（群机器人的 Webhook 地址）"));
    Place(new QLabel(QStringLiteral("机器人密钥"), this), "标签_机器人密钥", {12, 84, 80, 20});
    secretEdit_ = Place(new QLineEdit(this), "编辑框_机器人密钥", {96, 80, 362, 26});
    secretEdit_->setPlaceholderText(QStringLiteral("加签密钥，未开启加签时留空"));
    desktopBox_ = Place(new QCheckBox(QStringLiteral("桌面通知（主窗口不在前台时）"), this),
                        "选择框_桌面通知", {12, 116, 220, 22});
    historyBox_ = Place(new QCheckBox(QStringLiteral("历史记录（history 文件夹）"), this), "选择框_历史记录",
                        {240, 116, 218, 22});
    testButton_ =
        Place(new QPushButton(QStringLiteral("发送测试消息"), this), "按钮_发送测试消息", {12, 148, 110, 30});
    answerBox_ = Place(new QPlainTextEdit(this), "编辑框_机器人回复", {12, 186, 446, 76});
    answerBox_->setReadOnly(true);
    answerBox_->setPlaceholderText(QStringLiteral("机器人的回复显示在这里"));
    auto* save = Place(new QPushButton(QStringLiteral("保存"), this), "按钮_保存", {282, 274, 84, 32});
    auto* cancel = Place(new QPushButton(QStringLiteral("取消"), this), "按钮_取消", {374, 274, 84, 32});
    save->setDefault(true);

    connect(kindBox_, &QComboBox::currentIndexChanged, this, &NotifySettingsDialog::OnKindChanged);
    connect(testButton_, &QPushButton::clicked, this, &NotifySettingsDialog::OnSendTest);
    connect(save, &QPushButton::clicked, this, &NotifySettingsDialog::OnSave);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    Fill(LoadNotifySettings(ProfileFile(configPath_)));
}

NotifySettingsDialog::~NotifySettingsDialog() {
    cancel_->store(true);
    if (testThread_.joinable()) testThread_.join();
}

void NotifySettingsDialog::Fill(const NotifySettings& s) {
    for (int i = 0; i < kindBox_->count(); ++i) {
        if (kindBox_->itemData(i).toInt() == static_cast<int>(s.robotKind)) kindBox_->setCurrentIndex(i);
    }
    addressEdit_->setText(FromGbk(s.robotAddress));
    secretEdit_->setText(FromGbk(s.robotSecret));
    desktopBox_->setChecked(s.desktopNotification);
    historyBox_->setChecked(s.history);
    if (!s.problem.empty()) answerBox_->setPlainText(QString::fromStdString(s.problem));
    OnKindChanged();
}

NotifySettings NotifySettingsDialog::Edited() const {
    NotifySettings s;
    s.robotKind = static_cast<RobotKind>(kindBox_->currentData().toInt());
    s.robotAddress = ToGbk(OneLine(addressEdit_->text()));
    s.robotSecret = ToGbk(OneLine(secretEdit_->text()));
    s.desktopNotification = desktopBox_->isChecked();
    s.history = historyBox_->isChecked();
    return s;
}

void NotifySettingsDialog::OnKindChanged() {
    const auto kind = static_cast<RobotKind>(kindBox_->currentData().toInt());
    addressEdit_->setEnabled(kind != RobotKind::None);
    // Only the kinds that sign use a secret; a group robot of the first kind carries its key in the address.
    secretEdit_->setEnabled(kind == RobotKind::DingTalk || kind == RobotKind::Feishu);
    testButton_->setEnabled(kind != RobotKind::None && !testThread_.joinable());
}

QString NotifySettingsDialog::AddressProblem() const {
    if (static_cast<RobotKind>(kindBox_->currentData().toInt()) == RobotKind::None) return {};
    const QString address = OneLine(addressEdit_->text());
    if (address.isEmpty()) return QStringLiteral("请填写机器人地址");
    if (!address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive) &&
        !address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        return QStringLiteral("机器人地址须以 https:// 或 http:// 开头");
    return {};
}

void NotifySettingsDialog::OnSendTest() {
    if (const QString problem = AddressProblem(); !problem.isEmpty()) {
        answerBox_->setPlainText(problem);
        emit testAnswered(false);
        return;
    }
    if (testThread_.joinable()) testThread_.join();  // the previous test has answered already
    const NotifySettings s = Edited();
    const RobotRequest request = BuildTextRequest(
        s.robotKind, GbkToUtf8(s.robotAddress), GbkToUtf8(s.robotSecret),
        "Tandrel 测试消息：机器人设置正确，开团提醒会发到这里。", std::chrono::system_clock::now());
    testButton_->setEnabled(false);
    answerBox_->setPlainText(QStringLiteral("正在发送……"));
    QPointer<NotifySettingsDialog> self(this);
    testThread_ = std::thread([self, request, kind = s.robotKind, cancel = cancel_] {
        const PlainReply reply =
            HttpPostPlain(request.url, request.contentType, request.body, 15, cancel.get());
        const RobotAnswer answer = ReadRobotAnswer(kind, reply);
        if (cancel->load()) return;
        QMetaObject::invokeMethod(
            self,
            [self, answer] {
                if (!self) return;
                self->answerBox_->setPlainText(
                    (answer.ok ? QStringLiteral("发送成功：") : QStringLiteral("发送失败：")) +
                    QString::fromStdString(answer.summary));
                self->testThread_.join();
                self->OnKindChanged();
                emit self->testAnswered(answer.ok);
            },
            Qt::QueuedConnection);
    });
}

void NotifySettingsDialog::OnSave() {
    if (const QString problem = AddressProblem(); !problem.isEmpty()) {
        answerBox_->setPlainText(problem);
        return;
    }
    if (!SaveNotifySettings(ProfileFile(configPath_), Edited())) {
        answerBox_->setPlainText(QStringLiteral("无法写入 Config.ini，设置未保存"));
        return;
    }
    if (onSaved_) onSaved_();
    accept();
}

}  // namespace tandrel
