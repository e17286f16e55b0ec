#include "framework/message_box.h"

#include <string>

namespace {

int ShowRealMessageBox(const char* caption, const char* text, UINT type)
{
    return MessageBoxA(nullptr, text, caption, type);
}

MessageBoxSeam g_messageBox = ShowRealMessageBox;
std::string g_appTitle = "OPCServer";

}  // namespace

int AfxMessageBox(const char* text, UINT type)
{
    return g_messageBox(g_appTitle.c_str(), text, type);
}

MessageBoxSeam SetMessageBoxSeam(MessageBoxSeam seam)
{
    MessageBoxSeam previous = g_messageBox;
    g_messageBox = seam ? seam : ShowRealMessageBox;
    return previous == ShowRealMessageBox ? nullptr : previous;
}

void AfxSetAppTitle(const char* title)
{
    g_appTitle = title;
}
