// The driver setup dialog the host opens with its configure call.
#pragma once

// Start modes: 0 no camera given, 1 the camera exists, 2 a new camera.
enum SetupStartMode { kSetupNoCamera = 0, kSetupEditCamera = 1, kSetupNewCamera = 2 };

// Runs the dialog modally on the calling thread; 1 when it ended with OK,
// -12 otherwise.
int RunDriverSetupDialog(int cameraNumber, SetupStartMode mode, void* parentWindow);
