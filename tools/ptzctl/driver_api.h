// The driver's exports as a host sees them: function pointers looked up by
// name in the loaded library.
#pragma once

#include <string>
#include <vector>

#include "quaro7k7_ptz.h"

namespace ptzctl {

class DynamicLibrary;

struct DriverApi {
  decltype(&::VRT_CamGetVersion) GetVersion = nullptr;
  decltype(&::VRT_CamCloseUi) CloseUi = nullptr;
  decltype(&::VRT_CamInitModule) InitModule = nullptr;
  decltype(&::VRT_CamExitModule) ExitModule = nullptr;
  decltype(&::VRT_CamGetModuleProperties) GetModuleProperties = nullptr;
  decltype(&::VRT_CamGetProperties) GetProperties = nullptr;
  decltype(&::VRT_CamOpen) Open = nullptr;
  decltype(&::VRT_CamClose) Close = nullptr;
  decltype(&::VRT_CamGetName) GetName = nullptr;
  decltype(&::VRT_CamConfigure) Configure = nullptr;
  decltype(&::VRT_CamLeft) Left = nullptr;
  decltype(&::VRT_CamRight) Right = nullptr;
  decltype(&::VRT_CamUp) Up = nullptr;
  decltype(&::VRT_CamDown) Down = nullptr;
  decltype(&::VRT_CamUpLeft) UpLeft = nullptr;
  decltype(&::VRT_CamUpRight) UpRight = nullptr;
  decltype(&::VRT_CamDownLeft) DownLeft = nullptr;
  decltype(&::VRT_CamDownRight) DownRight = nullptr;
  decltype(&::VRT_CamZoom) Zoom = nullptr;
  decltype(&::VRT_CamFocus) Focus = nullptr;
  decltype(&::VRT_CamIris) Iris = nullptr;
  decltype(&::VRT_CamMoveToPrePosition) MoveToPrePosition = nullptr;
  decltype(&::VRT_CamMoveToPrePositionName) MoveToPrePositionName = nullptr;
  decltype(&::VRT_CamSetPrePosition) SetPrePosition = nullptr;
  decltype(&::VRT_CamSetPrePositionName) SetPrePositionName = nullptr;
  decltype(&::VRT_CamGetPrePosition) GetPrePosition = nullptr;
  decltype(&::VRT_CamDeletePrePosition) DeletePrePosition = nullptr;
  decltype(&::VRT_CamDeletePrePositionName) DeletePrePositionName = nullptr;
  decltype(&::VRT_CamStartProgram) StartProgram = nullptr;
  decltype(&::VRT_CamSetProgramPosition) SetProgramPosition = nullptr;
  decltype(&::VRT_CamStopProgram) StopProgram = nullptr;
  decltype(&::VRT_CamRunProgram) RunProgram = nullptr;
  decltype(&::VRT_CamDeleteProgram) DeleteProgram = nullptr;
  decltype(&::VRT_CamGetProgram) GetProgram = nullptr;
  decltype(&::VRT_CamSetRelay) SetRelay = nullptr;
  decltype(&::VRT_CamSetRelayName) SetRelayName = nullptr;
  decltype(&::VRT_CamGetRelay) GetRelay = nullptr;
  decltype(&::VRT_TAVORegisterCallback) RegisterCallback = nullptr;
  decltype(&::TAVOPZTChannel) Channel = nullptr;
};

// Looks every export up by its symbol name. Returns false, with the names not
// found in *missing, unless all of them are there.
bool BindDriverApi(const DynamicLibrary& library, DriverApi* api,
                   std::vector<std::string>* missing);

}  // namespace ptzctl
