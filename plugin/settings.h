// The settings file Velmora.ini beside the DLL: the mail view's opt-in readings and where
// the trace goes. Without the file, or with its values at 0, nothing changes.
#pragma once

// Reads the file and applies it; every setting it lacks goes back to its start value, so
// that a second start-up follows a changed file.
void ApplySettingsFile();
