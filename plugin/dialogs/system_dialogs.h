// The dialogs' binding when the host program installed none. On Windows the
// plug-in shows its dialogs in the dialog manager's windows, made from the
// template resources of this module; elsewhere there is no such binding and
// a dialog runs over the control model alone.
#pragma once

void UseSystemDialogsUnlessBound();
