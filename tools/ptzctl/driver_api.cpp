#include "ptzctl/driver_api.h"

#include "ptzctl/dynamic_library.h"

namespace ptzctl {
namespace {

template <typename Function>
void Bind(const DynamicLibrary& library, const char* name, Function* slot,
          std::vector<std::string>* missing) {
  void* address = library.Symbol(name);
  if (address == nullptr) {
    missing->push_back(name);
    *slot = nullptr;
    return;
  }
  // Object and function pointers share one representation on every platform
  // with a dynamic loader; this is how dlsym results are used.
  *slot = reinterpret_cast<Function>(address);
}

}  // namespace

bool BindDriverApi(const DynamicLibrary& library, DriverApi* api,
                   std::vector<std::string>* missing) {
  std::vector<std::string> absent;
  DriverApi a;
  // The two exports with C++ linkage are found under their encoded names.
  Bind(library, QUARO7_SYMBOL_GET_VERSION, &a.GetVersion, &absent);
  Bind(library, QUARO7_SYMBOL_CLOSE_UI, &a.CloseUi, &absent);
  Bind(library, "VRT_CamInitModule", &a.InitModule, &absent);
  Bind(library, "VRT_CamExitModule", &a.ExitModule, &absent);
  Bind(library, "VRT_CamGetModuleProperties", &a.GetModuleProperties, &absent);
  Bind(library, "VRT_CamGetProperties", &a.GetProperties, &absent);
  Bind(library, "VRT_CamOpen", &a.Open, &absent);
  Bind(library, "VRT_CamClose", &a.Close, &absent);
  Bind(library, "VRT_CamGetName", &a.GetName, &absent);
  Bind(library, "VRT_CamConfigure", &a.Configure, &absent);
  Bind(library, "VRT_CamLeft", &a.Left, &absent);
  Bind(library, "VRT_CamRight", &a.Right, &absent);
  Bind(library, "VRT_CamUp", &a.Up, &absent);
  Bind(library, "VRT_CamDown", &a.Down, &absent);
  Bind(library, "VRT_CamUpLeft", &a.UpLeft, &absent);
  Bind(library, "VRT_CamUpRight", &a.UpRight, &absent);
  Bind(library, "VRT_CamDownLeft", &a.DownLeft, &absent);
  Bind(library, "VRT_CamDownRight", &a.DownRight, &absent);
  Bind(library, "VRT_CamZoom", &a.Zoom, &absent);
  Bind(library, "VRT_CamFocus", &a.Focus, &absent);
  Bind(library, "VRT_CamIris", &a.Iris, &absent);
  Bind(library, "VRT_CamMoveToPrePosition", &a.MoveToPrePosition, &absent);
  Bind(library, "VRT_CamMoveToPrePositionName", &a.MoveToPrePositionName, &absent);
  Bind(library, "VRT_CamSetPrePosition", &a.SetPrePosition, &absent);
  Bind(library, "VRT_CamSetPrePositionName", &a.SetPrePositionName, &absent);
  Bind(library, "VRT_CamGetPrePosition", &a.GetPrePosition, &absent);
  Bind(library, "VRT_CamDeletePrePosition", &a.DeletePrePosition, &absent);
  Bind(library, "VRT_CamDeletePrePositionName", &a.DeletePrePositionName, &absent);
  Bind(library, "VRT_CamStartProgram", &a.StartProgram, &absent);
  Bind(library, "VRT_CamSetProgramPosition", &a.SetProgramPosition, &absent);
  Bind(library, "VRT_CamStopProgram", &a.StopProgram, &absent);
  Bind(library, "VRT_CamRunProgram", &a.RunProgram, &absent);
  Bind(library, "VRT_CamDeleteProgram", &a.DeleteProgram, &absent);
  Bind(library, "VRT_CamGetProgram", &a.GetProgram, &absent);
  Bind(library, "VRT_CamSetRelay", &a.SetRelay, &absent);
  Bind(library, "VRT_CamSetRelayName", &a.SetRelayName, &absent);
  Bind(library, "VRT_CamGetRelay", &a.GetRelay, &absent);
  Bind(library, "VRT_TAVORegisterCallback", &a.RegisterCallback, &absent);
  Bind(library, "TAVOPZTChannel", &a.Channel, &absent);
  if (missing != nullptr) *missing = absent;
  if (!absent.empty()) return false;
  *api = a;
  return true;
}

}  // namespace ptzctl
