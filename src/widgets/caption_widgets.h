#pragma once
// Captions with a run of blanks that a number box sits in ("有开团的提示音响           次"). The blanks were
// measured for a font whose space is half a character wide; with a narrower space the text after them would
// slide under the box, so that text is drawn from a fixed place right of the box instead.

#include <QCheckBox>
#include <QLabel>
#include <QString>
#include <utility>

namespace tandrel {

// The caption before the run of blanks and the text after it; no run: the whole caption and nothing.
std::pair<QString, QString> SplitAtBlankRun(const QString& caption);

class GapCheckBox final : public QCheckBox {
  public:
    GapCheckBox(const QString& caption, QWidget* parent) : QCheckBox(caption, parent) {}
    // x of the text after the blanks, in this control's coordinates; negative: drawn as one caption.
    void setTailX(int x);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int tailX_ = -1;
};

class GapLabel final : public QLabel {
  public:
    GapLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent) {}
    void setTailX(int x);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int tailX_ = -1;
};

}  // namespace tandrel
