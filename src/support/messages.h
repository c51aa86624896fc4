#pragma once
// Interactive messages ("提示" boxes): a message box in the window, stderr on the command line.

#include <string>

namespace tandrel {

enum class MessageIcon { Information, Exclamation, Warning };

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    // text is GBK; the title is always "提示".
    virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
};

}  // namespace tandrel
