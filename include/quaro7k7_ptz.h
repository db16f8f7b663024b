/*
 * QUARO7K7_PTZ - PTZ driver for domes that speak the QUARO7 serial protocol.
 *
 * Public interface for hosts that load QUARO7K7_PTZ.dll (32-bit Windows) or
 * QUARO7K7_PTZ.so (Linux): the exported functions, the packed call records,
 * the result codes and the channel function codes.
 *
 * Every export returns a 32-bit signed result code (QUARO7_* below); 1 is
 * success, failures are negative. Camera numbers are 0-based.
 */
#ifndef QUARO7K7_PTZ_H
#define QUARO7K7_PTZ_H

#include <stdint.h>

#if defined(_WIN32)
#define VRT_CALL __cdecl
#if defined(QUARO7K7_BUILDING)
#define VRT_EXPORT
#else
#define VRT_EXPORT __declspec(dllimport)
#endif
#else
#define VRT_CALL
#if defined(QUARO7K7_BUILDING)
#define VRT_EXPORT __attribute__((visibility("default")))
#else
#define VRT_EXPORT
#endif
#endif

/* Interface version answered by VRT_CamGetVersion and channel code 0. */
#define QUARO7_INTERFACE_VERSION 0x12000

/* Result codes. */
#define QUARO7_OK 1
#define QUARO7_NO_ANSWER (-1)
#define QUARO7_BAD_ARGUMENT (-3)
#define QUARO7_LINE_ERROR (-4)
#define QUARO7_TIMEOUTS_FAILED (-6)
#define QUARO7_PORT_OPEN_FAILED (-8)
#define QUARO7_BAD_PORT_MODE (-10)
#define QUARO7_DIALOG_CANCELLED (-12)
#define QUARO7_CAMERA_NOT_FOUND (-13)
#define QUARO7_FAILED (-18)
#define QUARO7_NOT_SUPPORTED (-19)
#define QUARO7_CAMERA_BUSY (-20)
#define QUARO7_DUPLICATE_CAMERA_NUMBER (-21)
#define QUARO7_EXCEPTION (-22)
#define QUARO7_NO_SUCH_PRESET (-23)
#define QUARO7_PRESETS_FULL (-26)
#define QUARO7_NO_SUCH_RELAY (-27)

/* The interface number TAVOPZTChannel answers to. */
#define QUARO7_CHANNEL_INTERFACE 6

/* Function codes of TAVOPZTChannel. Codes without an operation answer -19. */
enum Quaro7ChannelCode {
  QUARO7_CH_GET_VERSION = 0,
  QUARO7_CH_INIT_MODULE = 1,
  QUARO7_CH_EXIT_MODULE = 2,
  QUARO7_CH_GET_MODULE_PROPERTIES = 3,
  QUARO7_CH_GET_PROPERTIES = 4,
  QUARO7_CH_OPEN = 5,
  QUARO7_CH_CLOSE = 6,
  QUARO7_CH_UNUSED_7 = 7,
  QUARO7_CH_GET_NAME = 8,
  QUARO7_CH_CONFIGURE = 9,
  QUARO7_CH_LEFT = 10,
  QUARO7_CH_RIGHT = 11,
  QUARO7_CH_UP = 12,
  QUARO7_CH_DOWN = 13,
  QUARO7_CH_UP_RIGHT = 14,
  QUARO7_CH_UP_LEFT = 15,
  QUARO7_CH_DOWN_RIGHT = 16,
  QUARO7_CH_DOWN_LEFT = 17,
  QUARO7_CH_ZOOM = 18,
  QUARO7_CH_FOCUS = 19,
  QUARO7_CH_IRIS = 20,
  QUARO7_CH_MOVE_TO_PREPOSITION = 21,
  QUARO7_CH_SET_PREPOSITION = 22,
  QUARO7_CH_GET_PREPOSITION = 23,
  QUARO7_CH_DELETE_PREPOSITION = 24,
  QUARO7_CH_START_PROGRAM = 25,
  QUARO7_CH_SET_PROGRAM_POSITION = 26,
  QUARO7_CH_STOP_PROGRAM = 27,
  QUARO7_CH_RUN_PROGRAM = 28,
  QUARO7_CH_DELETE_PROGRAM = 29,
  QUARO7_CH_GET_PROGRAM = 30,
  QUARO7_CH_SET_RELAY = 31,
  QUARO7_CH_SET_RELAY_NAME = 32,
  QUARO7_CH_GET_RELAY = 33,
  QUARO7_CH_UNUSED_34 = 34,
  QUARO7_CH_UNUSED_35 = 35,
  QUARO7_CH_CLOSE_UI = 36,
  QUARO7_CH_UNUSED_37 = 37,
  QUARO7_CH_UNUSED_38 = 38,
  QUARO7_CH_UNUSED_39 = 39,
  QUARO7_CH_UNUSED_40 = 40,
  QUARO7_CH_UNUSED_41 = 41,
  QUARO7_CH_MOVE_TO_PREPOSITION_NAME = 42,
  QUARO7_CH_SET_PREPOSITION_NAME = 43,
  QUARO7_CH_DELETE_PREPOSITION_NAME = 44
};

/* Host records are byte-packed: integers may sit at odd offsets. */
#pragma pack(push, 1)

/* VRT_CamGetModuleProperties, channel code 3: 122 bytes. */
typedef struct VRT_ModuleProperties {
  char moduleName[49];   /* 0: always empty */
  char description[65];  /* 49: "K7 driver for QUARO7 protocol" */
  int32_t cameraCount;   /* 114: cameras in the camera table */
  int32_t connections;   /* 118: number of connections times 100 */
} VRT_ModuleProperties;

/* VRT_CamGetProperties, channel code 4: 44 bytes. */
typedef struct VRT_CameraProperties {
  int32_t handle;          /* 0: in */
  int32_t capability[5];   /* 4..20: out, each 1 */
  int32_t relayCount;      /* 24: NofRelays */
  int32_t storageLocations;/* 28: NofStorageLocations */
  int32_t presetCount;     /* 32: presets held */
  int32_t reserved[2];     /* 36, 40: 0 */
} VRT_CameraProperties;

/* VRT_CamGetPrePosition, channel code 23: 45 bytes. */
typedef struct VRT_PresetRecord {
  int32_t handle;    /* 0: in; on success an opaque camera identifier */
  int32_t position;  /* 4: in; -1 asks for the number of presets */
  char name[33];     /* 8: out */
  int32_t active;    /* 41: out, 1 while the camera stands at the preset */
} VRT_PresetRecord;

/* VRT_CamGetRelay, channel code 33: 49 bytes. */
typedef struct VRT_RelayRecord {
  int32_t handle;        /* 0: in; on success an opaque camera identifier */
  int32_t relay;         /* 4: in, 0-based; -1 asks for the number of relays */
  int32_t capabilities;  /* 8: out, always 7 */
  int32_t state;         /* 12: out, 0 off or 1 on */
  char name[33];         /* 16: out */
} VRT_RelayRecord;

#pragma pack(pop)

/* Callback stored by VRT_TAVORegisterCallback; the driver never calls it. */
typedef void(VRT_CALL* VRT_Callback)(void);

#ifdef __cplusplus
/* These two keep C++ linkage: hosts look them up under the platform's encoding
 * of "int f(void)" (QUARO7_SYMBOL_* below). */
VRT_EXPORT int VRT_CALL VRT_CamGetVersion(void);
VRT_EXPORT int VRT_CALL VRT_CamCloseUi(void);
extern "C" {
#endif

#if defined(_WIN32)
#define QUARO7_SYMBOL_GET_VERSION "?VRT_CamGetVersion@@YAHXZ"
#define QUARO7_SYMBOL_CLOSE_UI "?VRT_CamCloseUi@@YAHXZ"
#else
#define QUARO7_SYMBOL_GET_VERSION "_Z17VRT_CamGetVersionv"
#define QUARO7_SYMBOL_CLOSE_UI "_Z14VRT_CamCloseUiv"
#endif

VRT_EXPORT int VRT_CALL VRT_CamInitModule(int logSwitch, void* reserved, const char* logDirectory);
VRT_EXPORT int VRT_CALL VRT_CamExitModule(void);
VRT_EXPORT int VRT_CALL VRT_CamGetModuleProperties(VRT_ModuleProperties* properties);
VRT_EXPORT int VRT_CALL VRT_CamGetProperties(VRT_CameraProperties* properties);
VRT_EXPORT int VRT_CALL VRT_CamOpen(int cameraNumber, int* handle);
VRT_EXPORT int VRT_CALL VRT_CamClose(int handle);
VRT_EXPORT int VRT_CALL VRT_CamGetName(int cameraNumber, char* buffer, int length);
VRT_EXPORT int VRT_CALL VRT_CamConfigure(int cameraNumber, void* parentWindow);
VRT_EXPORT int VRT_CALL VRT_CamLeft(int handle, int speed);
VRT_EXPORT int VRT_CALL VRT_CamRight(int handle, int speed);
VRT_EXPORT int VRT_CALL VRT_CamUp(int handle, int speed);
VRT_EXPORT int VRT_CALL VRT_CamDown(int handle, int speed);
VRT_EXPORT int VRT_CALL VRT_CamUpLeft(int handle, int speed);
VRT_EXPORT int VRT_CALL VRT_CamUpRight(int handle, int speed);
VRT_EXPORT int VRT_CALL VRT_CamDownLeft(int handle, int speed);
VRT_EXPORT int VRT_CALL VRT_CamDownRight(int handle, int speed);
VRT_EXPORT int VRT_CALL VRT_CamZoom(int handle, int mode, int speed);
VRT_EXPORT int VRT_CALL VRT_CamFocus(int handle, int mode, int speed);
VRT_EXPORT int VRT_CALL VRT_CamIris(int handle, int mode, int speed);
VRT_EXPORT int VRT_CALL VRT_CamMoveToPrePosition(int handle, int preset, int speed);
VRT_EXPORT int VRT_CALL VRT_CamMoveToPrePositionName(int handle, const char* name, int speed);
VRT_EXPORT int VRT_CALL VRT_CamSetPrePosition(int handle, int preset, const char* name);
VRT_EXPORT int VRT_CALL VRT_CamSetPrePositionName(int handle, const char* name);
VRT_EXPORT int VRT_CALL VRT_CamGetPrePosition(VRT_PresetRecord* record);
VRT_EXPORT int VRT_CALL VRT_CamDeletePrePosition(int handle, int preset);
VRT_EXPORT int VRT_CALL VRT_CamDeletePrePositionName(int handle, const char* name);
VRT_EXPORT int VRT_CALL VRT_CamStartProgram(int handle, int program, void* data);
VRT_EXPORT int VRT_CALL VRT_CamSetProgramPosition(int handle, int a, int b, int c);
VRT_EXPORT int VRT_CALL VRT_CamStopProgram(int handle, int program);
VRT_EXPORT int VRT_CALL VRT_CamRunProgram(int handle, int program);
VRT_EXPORT int VRT_CALL VRT_CamDeleteProgram(int handle, int program);
VRT_EXPORT int VRT_CALL VRT_CamGetProgram(void* record);
VRT_EXPORT int VRT_CALL VRT_CamSetRelay(int handle, int relay, int mode, int time);
VRT_EXPORT int VRT_CALL VRT_CamSetRelayName(int handle, int relay, const char* name);
VRT_EXPORT int VRT_CALL VRT_CamGetRelay(VRT_RelayRecord* record);
VRT_EXPORT int VRT_CALL VRT_TAVORegisterCallback(VRT_Callback callback, uint32_t value);
VRT_EXPORT int VRT_CALL TAVOPZTChannel(int interfaceNumber, int code, void* record);

#ifdef __cplusplus
}
#endif

#endif /* QUARO7K7_PTZ_H */
