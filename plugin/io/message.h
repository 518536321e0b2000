// The messages a movie shows the user.
#pragma once

// Shows a message in a modal box with an OK button.
void ShowMessage(const char* text);
