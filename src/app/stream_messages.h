#pragma once

#include <ostream>

#include "support/messages.h"
#include "support/plain_text.h"
#include "support/text.h"

namespace tandrel {

// Messages for runs without a window: one UTF-8 line each on the given stream (stderr).
class StreamMessages : public MessageSink {
  public:
    explicit StreamMessages(std::ostream& err) : err_(err) {}
    void ShowMessage(const std::string& text, MessageIcon) override {
        err_ << RemoveControls(GbkToUtf8(text), TextBytes::Utf8) << '\n' << std::flush;
    }

  private:
    std::ostream& err_;
};

}  // namespace tandrel
