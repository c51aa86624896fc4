#pragma once
// The main window under test: a fake sound player, quiet timers, and a simulated marketplace with two
// stores when a test needs one. Shared by the tests of the window and of its order list.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <mutex>

#include "../common/sim_stores.h"
#include "../common/temp_dir.h"
#include "app/gui_main.h"
#include "app/main_window.h"
#include "monitor/order_list_actions.h"
#include "sim/marketplace_sim.h"
#include "stores/store_list.h"
#include "support/files.h"
#include "support/text.h"
#include "widgets/message_boxes.h"

namespace tandrel {
namespace {

using namespace std::chrono_literals;

class FakePlayer : public SoundPlayer {
  public:
    void Play(int which) override {
        std::lock_guard lock(mutex_);
        plays_.push_back(which);
    }
    std::vector<int> Plays() {
        std::lock_guard lock(mutex_);
        return plays_;
    }
    std::string Unavailable() override { return unavailable; }
    std::string unavailable;  // set by a test: no device

  private:
    std::mutex mutex_;
    std::vector<int> plays_;
};

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MessageBoxes::ClearRecorded();
        EnsureWorkDirs(dir_.path());
    }
    void TearDown() override { MessageBoxes::ClearRecorded(); }

    // Timers that stay quiet during a test unless a test shortens them; nothing reaches a real service.
    MainWindowOptions Options() {
        MainWindowOptions options;
        options.minuteInterval = 1h;
        options.initInterval = 1h;
        options.noticeInterval = 1h;
        options.alertRepeatPause = 1ms;
        options.soundPlayer = &player_;
        options.openUrl = [this](const QUrl& url) { openedUrls_.push_back(url); };
        return options;
    }
    MainWindow& Open(MainWindowOptions options) {
        window_ = std::make_unique<MainWindow>(dir_.path(), endpoints_, std::move(options));
        return *window_;
    }
    MainWindow& Open() { return Open(Options()); }

    template <typename Widget = QWidget>
    Widget* Control(const char* name) {
        auto* widget = window_->findChild<Widget*>(Q(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void Type(const char* editName, const char* text) {
        auto* edit = Control<QLineEdit>(editName);
        edit->selectAll();
        QTest::keyClicks(edit, Q(text));
    }
    std::string Stored(const char* key) const {
        return GbkToUtf8(ProfileFile(dir_ / "Config.ini").Read(SettingsFile::Section(), Utf8ToGbk(key)));
    }
    void WriteConfig(const char* utf8Lines) {
        std::ofstream(dir_ / "Config.ini", std::ios::binary) << Utf8ToGbk(utf8Lines);
    }
    std::vector<QString> RecordedTexts() const {
        std::vector<QString> texts;
        for (const auto& shown : MessageBoxes::Recorded())
            texts.push_back(shown.text);
        return texts;
    }

    testing::TempDir dir_;
    Endpoints endpoints_ = Endpoints::AllAt(sim::MarketplaceSim::RefusedBaseUrl());
    FakePlayer player_;
    std::vector<QUrl> openedUrls_;
    std::unique_ptr<MainWindow> window_;
};

class MainWindowSimTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        sim_.AddUser({.uid = "u1", .nickname = "小明"});
        testing::SeedSimStores(sim_, dir_.path(), testing::TwoStores());
        endpoints_ = Endpoints::AllAt(sim_.baseUrl());
    }
    MainWindow& OpenLoaded() {
        auto options = Options();
        options.initInterval = 1ms;
        MainWindow& window = Open(options);
        QSignalSpy loaded(&window, &MainWindow::storeListLoaded);
        EXPECT_TRUE(loaded.wait(10000));
        return window;
    }
    // Two more stores (33 and 44) besides the fixture's two, the window open, shown and loaded.
    MainWindow& OpenShownWithFourStores() {
        EXPECT_TRUE(testing::SeedSimStores(
            sim_, dir_.path(),
            {{{.account = "a3", .password = "p3", .mallId = "33", .mallName = "Three", .mobile = "3"}, "s3"},
             {{.account = "a4", .password = "p4", .mallId = "44", .mallName = "Four", .mobile = "4"},
              "s4"}}));
        MainWindow& window = OpenLoaded();
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        EXPECT_EQ(window.stores().rowCount(), 4);
        return window;
    }
    std::string LogText() { return Control<QPlainTextEdit>("编辑框_显示")->toPlainText().toStdString(); }

    sim::MarketplaceSim sim_;
};

}  // namespace
}  // namespace tandrel
