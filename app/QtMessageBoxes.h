#pragma once

// Message boxes of the libraries and the window shown as Qt message boxes.

#include "platform/dialogs.h"

namespace cvkapp {

platform::MessageAnswer showQtMessageBox(const platform::MessageBoxRequest& request);

}  // namespace cvkapp
