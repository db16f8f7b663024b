// The 32-bit Windows DLL under Wine, driven by the Windows host program
// against dome simulators, next to the Linux library driven the same way:
// both runs must show the same results, wire lines, log lines and settings
// file. Skipped unless scripts/wine-tests.sh has set up Wine.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "wine_host.h"

namespace q7wine {
namespace {

using Lines = std::vector<std::string>;

bool HasLine(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Load, initialise and open the camera of OneCameraSettings(com); the open
// sequence's lines are checked and taken.
void StartCamera(Session& s, int com) {
  s.WriteSettings(OneCameraSettings(com));
  s.Sim(com);
  s.Load();
  ASSERT_EQ(s.Init(), 1);
  ASSERT_EQ(s.Open(0), 1);
  // Selection, follow-up, and the lens-slow setting with its own selection.
  EXPECT_EQ(s.Wire(com), (Lines{"@2,1", "@3,5", "@5,23", "@2,1", "@3,5", "@6,22"}));
}

TEST_F(WineHostTest, DllExportsExactlyTheHostsNamesAndImportsOnlySystemDlls) {
  const ProgramRun run = RunProgram({setup().objdump, "-p", setup().Dll()});
  ASSERT_TRUE(run.succeeded) << setup().objdump << " -p " << setup().Dll();
  const std::string* dump = &run.output;
  EXPECT_NE(dump->find("file format pei-i386"), std::string::npos) << "not a 32-bit DLL";

  std::set<std::string> exports;
  std::set<std::string> imports;
  std::istringstream lines(*dump);
  std::string line;
  bool inNames = false;
  static const std::regex exportLine(R"(^\s*\[\s*\d+\] (\S+)\s*$)");
  static const std::regex importLine(R"(^\s*DLL Name: (\S+)\s*$)");
  std::smatch match;
  while (std::getline(lines, line)) {
    if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
      inNames = true;
      continue;
    }
    if (inNames && std::regex_match(line, match, exportLine)) {
      exports.insert(match[1]);
      continue;
    }
    inNames = false;
    if (std::regex_match(line, match, importLine)) {
      std::string name = match[1];
      std::transform(name.begin(), name.end(), name.begin(), ::tolower);
      imports.insert(name);
    }
  }

  const std::set<std::string> expected = {"?VRT_CamGetVersion@@YAHXZ",
                                          "?VRT_CamCloseUi@@YAHXZ",
                                          "TAVOPZTChannel",
                                          "VRT_TAVORegisterCallback",
                                          "VRT_CamInitModule",
                                          "VRT_CamExitModule",
                                          "VRT_CamGetModuleProperties",
                                          "VRT_CamGetProperties",
                                          "VRT_CamOpen",
                                          "VRT_CamClose",
                                          "VRT_CamGetName",
                                          "VRT_CamConfigure",
                                          "VRT_CamLeft",
                                          "VRT_CamRight",
                                          "VRT_CamUp",
                                          "VRT_CamDown",
                                          "VRT_CamUpLeft",
                                          "VRT_CamUpRight",
                                          "VRT_CamDownLeft",
                                          "VRT_CamDownRight",
                                          "VRT_CamZoom",
                                          "VRT_CamFocus",
                                          "VRT_CamIris",
                                          "VRT_CamMoveToPrePosition",
                                          "VRT_CamMoveToPrePositionName",
                                          "VRT_CamSetPrePosition",
                                          "VRT_CamSetPrePositionName",
                                          "VRT_CamGetPrePosition",
                                          "VRT_CamDeletePrePosition",
                                          "VRT_CamDeletePrePositionName",
                                          "VRT_CamStartProgram",
                                          "VRT_CamSetProgramPosition",
                                          "VRT_CamStopProgram",
                                          "VRT_CamRunProgram",
                                          "VRT_CamDeleteProgram",
                                          "VRT_CamGetProgram",
                                          "VRT_CamSetRelay",
                                          "VRT_CamSetRelayName",
                                          "VRT_CamGetRelay"};
  EXPECT_EQ(exports, expected);

  // Windows' own DLLs only: the C and C++ runtimes and the thread library
  // are linked in.
  const std::set<std::string> system = {
      "kernel32.dll", "msvcrt.dll",   "ole32.dll", "oleaut32.dll", "user32.dll",
      "winmm.dll",    "advapi32.dll", "gdi32.dll", "comctl32.dll", "ws2_32.dll"};
  EXPECT_FALSE(imports.empty());
  for (const std::string& name : imports) EXPECT_TRUE(system.count(name)) << "imports " << name;
  // The setup dialogs: common controls, and the icons' bitmaps.
  for (const char* name : {"comctl32.dll", "gdi32.dll", "user32.dll"})
    EXPECT_TRUE(imports.count(name)) << "does not import " << name;
}

TEST_F(WineHostTest, Win32PlatformLayerOnItsOwn) {
  WineSide wine(setup());
  const std::string dir = MakeTempDir("q7wine-platform");
  ASSERT_FALSE(dir.empty());
  const std::string busy = dir + "/busy-port";
  ASSERT_EQ(mkdir(busy.c_str(), 0755), 0);
  wine.LinkPort(dir, 27, busy);
  domesim::DomeSimulator free;
  wine.LinkPort(dir, 28, free.SlavePath());
  std::vector<std::string> command = wine.HostCommand();
  command.back() = setup().PlatformCheck();
  command.push_back(wine.HostPath(dir));
  command.push_back("27");
  command.push_back("28");
  const ProgramRun run = RunProgram(command, wine.HostEnvironment());
  wine.LinkPort(dir, 27, "");
  wine.LinkPort(dir, 28, "");
  EXPECT_TRUE(run.succeeded) << run.output;
  EXPECT_NE(run.output.find(" checks, 0 failed"), std::string::npos) << run.output;
  std::cout << run.output;
  RemoveTree(dir);
}

TEST_F(WineHostTest, AnswersBeforeInitialisation) {
  RunBoth([](Session& s) {
    s.Load();
    EXPECT_EQ(s.Call("VRT_CamGetVersion").result, 0x12000);
    EXPECT_EQ(s.Call("VRT_CamCloseUi").result, 1);
    EXPECT_EQ(s.Call("TAVOPZTChannel 5 0 00").result, -19);
    EXPECT_EQ(s.Call("TAVOPZTChannel 6 0 00").result, 0x12000);
    EXPECT_EQ(s.Call("TAVOPZTChannel 6 7 00").result, -19);
    EXPECT_EQ(s.Call("TAVOPZTChannel 6 45 00").result, -19);
    const Reply properties = s.Call("VRT_CamGetModuleProperties");
    EXPECT_EQ(properties.result, 1);
    EXPECT_EQ(properties.fields.at("description"), "\"K7 driver for QUARO7 protocol\"");
    EXPECT_EQ(properties.fields.at("cameras"), "0");
    EXPECT_EQ(s.Call("VRT_CamGetName 0 32").result, -13);
    EXPECT_EQ(s.Call("VRT_CamGetName 0 null 32").result, -3);
    EXPECT_EQ(s.Call("VRT_CamLeft 0x10000000 8").result, -13);
    EXPECT_EQ(s.Call("VRT_CamConfigure -2").result, -3);
    EXPECT_EQ(s.Call("VRT_TAVORegisterCallback null 7").result, -3);
    EXPECT_EQ(s.Call("VRT_TAVORegisterCallback fn 7").result, 1);
    s.Unload();
  });
}

TEST_F(WineHostTest, OpenPanStopAndClose) {
  constexpr int kCom = 21;
  const Transcript t = RunBoth([](Session& s) {
    StartCamera(s, kCom);
    EXPECT_EQ(s.Call("VRT_CamLeft {h} 8").result, 1);
    EXPECT_EQ(s.Wire(kCom), (Lines{"@5,3", "@7,62,1", "@5,23"}));
    EXPECT_EQ(s.Call("VRT_CamLeft {h} 12").result, 1);
    EXPECT_EQ(s.Call("VRT_CamLeft {h} 0").result, 1);
    EXPECT_EQ(s.Wire(kCom), (Lines{"@7,70,1", "@6,3"}));
    // The same through the channel: code 11 is right.
    EXPECT_EQ(s.Call("TAVOPZTChannel 6 11 {hle}" + RecordHex({8})).result, 1);
    EXPECT_EQ(s.Call("TAVOPZTChannel 6 11 {hle}" + RecordHex({0})).result, 1);
    EXPECT_EQ(s.Wire(kCom), (Lines{"@5,2", "@7,62,1", "@6,2"}));
    EXPECT_EQ(s.Call("VRT_CamLeft 0x10000000 8").result, -13);
    EXPECT_EQ(s.Call("VRT_CamLeft {h} 17").result, -3);
    const Reply properties = s.Call("VRT_CamGetProperties {h}");
    EXPECT_EQ(properties.fields.at("relays"), "3");
    EXPECT_EQ(properties.fields.at("locations"), "99");
    EXPECT_EQ(s.Call("VRT_CamGetName 0 32").fields.at("name"), "\"Gate\"");
    EXPECT_EQ(s.Call("VRT_CamGetName 0 3").fields.at("name"), "\"Ga\"");
    EXPECT_EQ(s.Call("VRT_CamOpen 0").result, -20);
    EXPECT_EQ(s.Call("VRT_CamClose {h}").result, 1);
    EXPECT_EQ(s.Call("VRT_CamClose {h}").result, -13);
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
    s.Unload();
  });
  EXPECT_TRUE(HasLine(t.log, "DRIVER SESSION STARTED. Version 0x12000"));
  EXPECT_TRUE(HasLine(t.log, "COMM.Open: Connection 'Line 1' opened with settings 96,E,8,1"));
  EXPECT_TRUE(HasLine(t.log, "CAM.Left: speed = 8 OK. (TavoID 1)"));
  EXPECT_TRUE(HasLine(t.log, "VRT_CamLeft: Invalid camera handle (0x10000000)"));
  EXPECT_TRUE(HasLine(t.log, "DRIVER SESSION ENDED"));
}

TEST_F(WineHostTest, SilentDomeCostsFourReadsOfTwoSeconds) {
  constexpr int kCom = 22;
  const Transcript t = RunBoth([](Session& s) {
    StartCamera(s, kCom);
    s.Sim(kCom).SetReplyMode(domesim::ReplyMode::kSilent);
    // A stop is one line: the first try and three re-sends, each read
    // waiting 2000 ms plus 1 ms per byte asked for.
    const Reply stop = s.Call("VRT_CamLeft {h} 0");
    EXPECT_EQ(stop.result, 1);
    EXPECT_GE(stop.ms, 4 * 2000);
    EXPECT_LE(stop.ms, 4 * 2000 + 1500);
    EXPECT_EQ(s.Wire(kCom), (Lines{"@6,3", "@6,3", "@6,3", "@6,3"}));
    s.Sim(kCom).SetReplyMode(domesim::ReplyMode::kOk);
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
  });
  EXPECT_TRUE(HasLine(t.log, "CAM.Left: speed = 0 OK. (TavoID 1)"));
}

TEST_F(WineHostTest, BadRepliesAreSentAgain) {
  constexpr int kCom = 23;
  const Transcript t = RunBoth([](Session& s) {
    StartCamera(s, kCom);
    s.Sim(kCom).QueueReply("ER\r");
    s.Sim(kCom).QueueReply("\x01\x02\r");
    EXPECT_EQ(s.Call("VRT_CamLeft {h} 8").result, 1);
    EXPECT_EQ(s.Wire(kCom), (Lines{"@5,3", "@5,3", "@5,3", "@7,62,1", "@5,23"}));
    EXPECT_EQ(s.Call("VRT_CamLeft {h} 0").result, 1);
    EXPECT_EQ(s.Wire(kCom), (Lines{"@6,3"}));
    // A node off line is logged; "NI" is taken as it is: neither is sent again.
    s.Sim(kCom).QueueReply("OL\r");
    s.Sim(kCom).QueueReply("NI\r");
    EXPECT_EQ(s.Call("VRT_CamZoom {h} 1 4").result, 1);
    EXPECT_EQ(s.Call("VRT_CamZoom {h} 1 0").result, 1);
    EXPECT_EQ(s.Wire(kCom).size(), 2u);
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
  });
  bool offLine = false;
  for (const std::string& line : t.log)
    offLine = offLine || line.find("Serial.ReadData: Remote node off line") != std::string::npos;
  EXPECT_TRUE(offLine);
}

TEST_F(WineHostTest, RelayPulseEndsByItself) {
  constexpr int kCom = 24;
  RunBoth([](Session& s) {
    StartCamera(s, kCom);
    domesim::DomeSimulator& sim = s.Sim(kCom);
    EXPECT_EQ(s.Call("VRT_CamSetRelay {h} 0 3 500").result, 1);
    ASSERT_TRUE(sim.WaitForLines(2, 3000));
    const std::vector<domesim::ReceivedLine> records = sim.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].line, "@5,18");
    EXPECT_EQ(records[1].line, "@6,18");
    const auto gap =
        std::chrono::duration_cast<std::chrono::milliseconds>(records[1].when - records[0].when);
    EXPECT_GE(gap.count(), 450);
    EXPECT_LE(gap.count(), 900);
    EXPECT_EQ(s.Wire(kCom), (Lines{"@5,18", "@6,18"}));
    // The pulse's end is logged by the connection's worker thread.
    EXPECT_TRUE(s.WaitForLog("RELAY.Set: Relay 'Relay1' SUCCESFULLY set to state 0", 3000));
    EXPECT_EQ(s.Call("VRT_CamGetRelay {h} 0").fields.at("state"), "0");
    EXPECT_EQ(s.Call("VRT_CamSetRelayName {h} 2 \"Wiper left\"").result, 1);
    EXPECT_EQ(s.Call("VRT_CamGetRelay {h} 2").fields.at("name"), "\"Wiper left\"");
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
  });
}

TEST_F(WineHostTest, PresetsStoredByNameSurviveARestart) {
  constexpr int kCom = 25;
  const Transcript t = RunBoth([](Session& s) {
    StartCamera(s, kCom);
    EXPECT_EQ(s.Call("VRT_CamSetPrePositionName {h} \"Gate view\"").result, 1);
    // Stored through the channel: code 43, the name at offset 4.
    EXPECT_EQ(s.Call("TAVOPZTChannel 6 43 {hle}" + RecordHex({}, "Yard", 32)).result, 1);
    // A name beyond ASCII, kept in ISO-8859-1 like the file.
    EXPECT_EQ(s.Call("VRT_CamSetPrePositionName {h} \"Caf\\xe9\"").result, 1);
    EXPECT_EQ(s.Wire(kCom), (Lines{"@9,1", "@9,2", "@9,3"}));
    EXPECT_EQ(s.Call("VRT_CamClose {h}").result, 1);
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
    // A new host process loads the library again.
    s.EndHost();
    s.Wire(kCom);

    s.Load();
    ASSERT_EQ(s.Init(), 1);
    ASSERT_EQ(s.Open(0), 1);
    s.Wire(kCom);
    EXPECT_EQ(s.Call("VRT_CamGetPrePosition {h} -1").result, 3);
    EXPECT_EQ(s.Call("VRT_CamGetPrePosition {h} 0").fields.at("name"), "\"Gate view\"");
    EXPECT_EQ(s.Call("VRT_CamGetPrePosition {h} 2").fields.at("name"), "\"Caf\\xe9\"");
    EXPECT_EQ(s.Call("VRT_CamMoveToPrePositionName {h} \"Yard\" 50").result, 1);
    // Code 42: the speed at offset 4 before the name at 8.
    EXPECT_EQ(s.Call("TAVOPZTChannel 6 42 {hle}" + RecordHex({50}, "Gate view", 32)).result, 1);
    const Lines recalls = s.Wire(kCom);
    EXPECT_EQ(recalls.size(), 2u);
    EXPECT_EQ(s.Call("VRT_CamMoveToPrePositionName {h} \"Nowhere\" 50").result, -23);
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
  });
  EXPECT_NE(t.settings.find("<Name value=\"Gate view\""), std::string::npos) << t.settings;
  EXPECT_NE(t.settings.find("<Name value=\"Yard\""), std::string::npos) << t.settings;
  EXPECT_NE(t.settings.find("<Name value=\"Caf\xe9\""), std::string::npos) << t.settings;
}

TEST_F(WineHostTest, MalformedSettingsFileIsLeftAsItIs) {
  const std::string broken =
      "<?xml version='1.0' encoding='iso-8859-1'?>\r\n<settings>\r\n\t<comm1>\r\n";
  const Transcript t = RunBoth([&broken](Session& s) {
    s.WriteSettings(broken);
    s.Load();
    EXPECT_EQ(s.Init(), -18);
    EXPECT_EQ(ReadText(s.SettingsPath()), broken);
    EXPECT_EQ(s.Call("VRT_CamOpen 0").result, -13);
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
    EXPECT_EQ(ReadText(s.SettingsPath()), broken);
  });
  EXPECT_TRUE(HasLine(t.log,
                      "DRV.InitXML: XML init failedVRT_CamInitModule: Couldn't init xml "
                      "configuration."));
}

TEST_F(WineHostTest, NewSettingsFileWhenThereIsNone) {
  const Transcript t = RunBoth([](Session& s) {
    s.Load();
    EXPECT_EQ(s.Init(), 1);
    const Reply properties = s.Call("VRT_CamGetModuleProperties");
    EXPECT_EQ(properties.fields.at("cameras"), "0");
    EXPECT_EQ(properties.fields.at("connections"), "0");
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
  });
  EXPECT_EQ(t.settings, "<?xml version='1.0' encoding='iso-8859-1'?>\n<settings/>\n");
  EXPECT_TRUE(HasLine(t.log, "DRV.Load: Load OK."));
}

TEST_F(WineHostTest, NoLogWhenTheHostSwitchesItOff) {
  RunBoth([](Session& s) {
    s.WriteSettings(OneCameraSettings(26));
    s.Sim(26);
    s.Load();
    EXPECT_EQ(s.Init(0), 1);
    EXPECT_EQ(s.Open(0), 1);
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
    s.Unload();
    EXPECT_TRUE(ReadText(s.LogPath()).empty());
  });
}

TEST_F(WineHostTest, PortsThatDoNotExistOrAreInUse) {
  const Transcript t = RunBoth([](Session& s) {
    std::string settings = OneCameraSettings(29);
    // A second connection with its camera on the busy port 28.
    const std::string second =
        "\t<comm2><Name value=\"Line 2\"/><ComPort value=\"28\"/><PortMode value=\"96,E,8,1\"/>"
        "\n\t\t<cam1><Name value=\"Yard\"/><TavoID value=\"1\"/><SysID value=\"6\"/>"
        "<NodeAddress value=\"128\"/><CamAccFactor value=\"6\"/><WaitForResponse value=\"1\"/>"
        "<ControlMonitor value=\"1\"/><NofRelays value=\"3\"/>"
        "<NofStorageLocations value=\"99\"/>\n\t\t</cam1>\n\t</comm2>\n";
    settings.insert(settings.rfind("</settings>"), second);
    s.WriteSettings(settings);
    s.NoPort(29);
    s.BusyPort(28);
    s.Load();
    EXPECT_EQ(s.Init(), 1);
    EXPECT_EQ(s.Call("VRT_CamOpen 0").result, -8);
    EXPECT_EQ(s.Call("VRT_CamOpen 1").result, -8);
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
  });
  bool missing = false, busy = false;
  for (const std::string& line : t.log) {
    missing = missing || line.find("COMM.Open FAILED: Com port 29 not found ") != std::string::npos;
    busy = busy || line.find("COMM.Open FAILED: Com port 28 is busy") != std::string::npos;
  }
  EXPECT_TRUE(missing);
  EXPECT_TRUE(busy);
  EXPECT_TRUE(std::any_of(t.log.begin(), t.log.end(), [](const std::string& line) {
    return line.find("Serial.Open: Failed to open COM29: 2") != std::string::npos;
  }));
}

// The file's layout is an interface of its own: the same history of
// changes leaves the same bytes on every system, also for a file that came
// with CR LF line ends, a comment and escaped characters, and for names
// that need escaping.
TEST_F(WineHostTest, SameChangesWriteTheSameSettingsFile) {
  constexpr int kCom = 30;
  std::string installed = OneCameraSettings(kCom);
  installed.insert(installed.find("<settings>"), "<!-- installed by setup -->\n");
  installed.replace(installed.find("\"Gate\""), 6, "\"Gate &amp; &quot;yard&quot; &#233;\"");
  for (size_t at = 0; (at = installed.find('\n', at)) != std::string::npos; at += 2)
    installed.replace(at, 1, "\r\n");
  const Transcript t = RunBoth([&installed](Session& s) {
    s.WriteSettings(installed);
    s.Sim(kCom);
    s.Load();
    ASSERT_EQ(s.Init(), 1);
    ASSERT_EQ(s.Open(0), 1);
    EXPECT_EQ(s.Call("VRT_CamSetRelayName {h} 0 \"Washer\"").result, 1);
    EXPECT_EQ(s.Call("VRT_CamSetPrePositionName {h} \"A\"").result, 1);
    EXPECT_EQ(s.Call("VRT_CamSetPrePositionName {h} \"B <&> 'b' \\\"q\\\"\"").result, 1);
    EXPECT_EQ(s.Call("VRT_CamSetPrePositionName {h} \"C\\xe9\\x09\"").result, 1);
    EXPECT_EQ(s.Call("VRT_CamDeletePrePositionName {h} \"A\"").result, 1);
    EXPECT_EQ(s.Call("VRT_CamSetRelayName {h} 2 \"Lamp\"").result, 1);
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
    // A new host process loads the file the first one wrote and goes on.
    s.EndHost();
    s.Load();
    ASSERT_EQ(s.Init(), 1);
    ASSERT_EQ(s.Open(0), 1);
    EXPECT_EQ(s.Call("VRT_CamGetName 0 32").fields.at("name"), "\"Gate & \\\"yard\\\" \\xe9\"");
    EXPECT_EQ(s.Call("VRT_CamGetPrePosition {h} 0").fields.at("name"), "\"B <&> 'b' \\\"q\\\"\"");
    EXPECT_EQ(s.Call("VRT_CamSetRelayName {h} 1 \"Wiper\"").result, 1);
    EXPECT_EQ(s.Call("VRT_CamSetPrePositionName {h} \"D\"").result, 1);
    EXPECT_EQ(s.Call("VRT_CamDeletePrePositionName {h} \"B <&> 'b' \\\"q\\\"\"").result, 1);
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
  });
  // No CR is left in the file, and the escapes are the ones both systems
  // write.
  EXPECT_EQ(t.settings.find('\r'), std::string::npos);
  EXPECT_EQ(t.settings.rfind("<?xml version='1.0' encoding='iso-8859-1'?>\n"
                             "<!-- installed by setup -->\n<settings>\n\t<comm1>",
                             0),
            0u)
      << t.settings;
  EXPECT_NE(t.settings.find("<Name value=\"Gate &amp; &quot;yard&quot; \xe9\"/>"),
            std::string::npos)
      << t.settings;
  EXPECT_NE(t.settings.find("<Name value=\"C\xe9&#09;\">"), std::string::npos) << t.settings;
}

// Two host processes on one library directory: one renames the relays of
// its camera as fast as it can while a third process initialises the module
// (reading the file) again and again, and no rename fails because another
// process is reading or replacing the file at that moment. The second host
// then renames a relay of its own camera: the file changed since it read it,
// but not that camera, so the rename goes into the file beside the first
// host's, and the first host's next rename and preset store on its own
// camera go in beside it. The first host, which read the second's camera
// before that rename, then opens it and renames a relay: refused (-22, with
// the log line naming the camera), and again; after a module restart it
// reads the second host's name and saves that camera too. Both systems
// answer alike and leave the same file.
TEST_F(WineHostTest, TwoProcessesSavingOneSettingsFile) {
  constexpr int kComA = 31, kComB = 32, kRenames = 25;
  LinuxSide linuxSide;
  WineSide wineSide(setup());
  std::map<std::string, std::vector<int>> answers;
  std::map<std::string, std::string> files;
  for (HostSide* side : std::vector<HostSide*>{&linuxSide, &wineSide}) {
    SCOPED_TRACE(side->Name());
    const std::string dir = MakeTempDir("q7wine-two-" + side->Name());
    ASSERT_FALSE(dir.empty());
    std::vector<int>& seen = answers[side->Name()];
    {
      Session a(*side, dir);
      Session b(*side, dir, false);
      Session reader(*side, dir, false);
      a.WriteSettings(TwoLineSettings(kComA, kComB));
      a.Sim(kComA);
      b.Sim(kComB);
      a.Load();
      b.Load();
      reader.Load();
      ASSERT_EQ(a.Init(), 1);
      ASSERT_EQ(b.Init(), 1);
      ASSERT_EQ(a.Open(0), 1);
      ASSERT_EQ(b.Open(1), 1);
      std::set<int> renamesA, reads;
      std::atomic<bool> renaming{true};
      std::thread readerThread([&] {
        while (renaming.load()) {
          reads.insert(reader.Init(0));
          reader.Call("VRT_CamExitModule");
        }
      });
      for (int i = 0; i < kRenames; ++i) {
        const std::string text = "A " + std::to_string(i);
        renamesA.insert(
            a.Call("VRT_CamSetRelayName {h} " + std::to_string(i % 3) + " \"" + text + "\"")
                .result);
      }
      renaming.store(false);
      readerThread.join();
      EXPECT_EQ(renamesA, std::set<int>{1});
      EXPECT_EQ(reads, std::set<int>{1});
      EXPECT_EQ(ReadText(a.LogPath()).find("Exeption occured: -22"), std::string::npos)
          << "see " << dir;
      seen.push_back(b.Call("VRT_CamSetRelayName {h} 0 \"B\"").result);
      seen.push_back(a.Call("VRT_CamSetRelayName {h} 0 \"A last\"").result);
      seen.push_back(a.Call("VRT_CamSetPrePositionName {h} \"Door\"").result);
      // The second host lets the yard camera's port go; the first opens it.
      seen.push_back(b.Call("VRT_CamClose {h}").result);
      b.ResetLines();  // the yard camera's simulator is the second host's
      seen.push_back(a.Open(1));
      seen.push_back(a.Call("VRT_CamSetRelayName {h} 1 \"A over B\"").result);
      EXPECT_NE(
          ReadText(a.LogPath()).find("DRV.Settings: Camera 2 ('Yard', settings/comm2/cam1) in "),
          std::string::npos)
          << "see " << dir;
      seen.push_back(a.Call("VRT_CamSetRelayName {h} 2 \"A over B\"").result);
      // A module restart reads the file afresh.
      seen.push_back(a.Call("VRT_CamExitModule").result);
      seen.push_back(a.Init());
      b.ResetLines();
      seen.push_back(a.Open(1));
      EXPECT_EQ(a.Call("VRT_CamGetRelay {h} 0").fields["name"], "\"B\"");
      seen.push_back(a.Call("VRT_CamSetRelayName {h} 1 \"A after B\"").result);
      EXPECT_EQ(a.Call("VRT_CamExitModule").result, 1);
      EXPECT_EQ(b.Call("VRT_CamExitModule").result, 1);
      const std::string log = ReadText(a.LogPath());
      EXPECT_NE(log.find("was changed by another process since this one read it"),
                std::string::npos)
          << "see " << dir;
      const std::string settings = ReadText(dir + "/QUARO7K7_PTZ.xml");
      for (const char* name : {"\"A last\"", "\"Door\"", "\"B\"", "\"A after B\""})
        EXPECT_NE(settings.find(name), std::string::npos) << name << " in " << settings;
      EXPECT_EQ(settings.find("\"A over B\""), std::string::npos) << settings;
      files[side->Name()] = settings;
    }
    if (!HasFailure()) RemoveTree(dir);
  }
  EXPECT_EQ(answers["linux"], (std::vector<int>{1, 1, 1, 1, 1, -22, -22, 1, 1, 1, 1}));
  EXPECT_EQ(answers["wine"], answers["linux"]);
  EXPECT_EQ(files["wine"], files["linux"]);
}

// A host that ends its process with a camera still open (no close, no
// module end, no unload): the process ends at once, the log gets its last
// lines, and every change made before is in the file for the next host.
TEST_F(WineHostTest, HostExitingWithACameraOpenEnds) {
  constexpr int kCom = 33;
  auto scenario = [](Session& s) {
    StartCamera(s, kCom);
    EXPECT_EQ(s.Call("VRT_CamSetRelayName {h} 1 \"Wiper\"").result, 1);
    EXPECT_EQ(s.Call("VRT_CamLeft {h} 8").result, 1);
    // The connection's worker is waiting for its next round by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string before = ReadText(s.SettingsPath());
    const int64_t took = s.ExitHost(15000);
    EXPECT_GE(took, 0) << "the host process did not end";
    EXPECT_LT(took, 5000);
    EXPECT_EQ(ReadText(s.SettingsPath()), before);
    const Lines log = s.LogLines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "DRV: Driver library freed.");
    EXPECT_EQ(log[log.size() - 1], std::string(80, '-'));

    s.Load();
    ASSERT_EQ(s.Init(), 1);
    ASSERT_EQ(s.Open(0), 1);
    EXPECT_EQ(s.Call("VRT_CamGetRelay {h} 1").fields.at("name"), "\"Wiper\"");
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
  };
  LinuxSide linuxSide;
  WineSide wineSide(setup());
  const Transcript native = RunOn(linuxSide, scenario);
  const Transcript emulated = RunOn(wineSide, scenario);
  EXPECT_EQ(native.calls, emulated.calls);
  EXPECT_EQ(native.wire, emulated.wire);
  EXPECT_EQ(native.settings, emulated.settings);
  // The Linux library's threads still run while its process ends, so it
  // closes the line; the DLL's were stopped by the system, which closes the
  // port with the process. Otherwise the logs are the same.
  Lines nativeLog = native.log;
  const auto freed = std::find(nativeLog.begin(), nativeLog.end(), "DRV: Driver library freed.");
  ASSERT_NE(freed, nativeLog.end());
  ASSERT_NE(freed, nativeLog.begin());
  EXPECT_EQ(*(freed - 1), "COMM.Close: Connection 'Line 1' closed");
  nativeLog.erase(freed - 1);
  EXPECT_EQ(nativeLog, emulated.log);
}

// A host that unloads the library with a camera open and moving, without
// ending the module: the unload returns at once and leaves no thread behind,
// the log gets its last lines, nothing in the settings file changes, and
// the same process loads the library again and drives the same camera on
// the same port. Twice, so that the unload of a library loaded a second
// time in the process is tried too.
TEST_F(WineHostTest, UnloadWithACameraOpenReturnsAtOnceAndFreesThePort) {
  constexpr int kCom = 35;
  RunBoth([](Session& s) {
    const int before = s.Threads();
    ASSERT_GT(before, 0);
    StartCamera(s, kCom);
    EXPECT_EQ(s.Threads(), before + 1);  // the line's worker
    EXPECT_EQ(s.Call("VRT_CamSetRelayName {h} 1 \"Wiper\"").result, 1);
    const std::string settings = ReadText(s.SettingsPath());
    for (int round = 1; round <= 2; ++round) {
      SCOPED_TRACE("unload " + std::to_string(round));
      EXPECT_EQ(s.Call("VRT_CamLeft {h} 5").result, 1);
      EXPECT_EQ(s.Wire(kCom), (Lines{"@5,3", "@7,54,1", "@5,23"}));
      // The connection's worker is waiting for its next round by now.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      const int64_t took = s.TimedUnload(20000);
      ASSERT_GE(took, 0) << "the unload did not return";
      EXPECT_LT(took, 2000);
      EXPECT_EQ(s.Threads(), before);
      EXPECT_EQ(ReadText(s.SettingsPath()), settings);
      const Lines log = s.LogLines();
      ASSERT_GE(log.size(), 3u);
      EXPECT_EQ(log[log.size() - 3], "COMM.Close: Connection 'Line 1' closed");
      EXPECT_EQ(log[log.size() - 2], "DRV: Driver library freed.");
      EXPECT_EQ(log[log.size() - 1], std::string(80, '-'));

      s.Load();
      ASSERT_EQ(s.Init(), 1);
      ASSERT_EQ(s.Open(0), 1);
      EXPECT_EQ(s.Wire(kCom), (Lines{"@2,1", "@3,5", "@5,23", "@2,1", "@3,5", "@6,22"}));
      EXPECT_EQ(s.Call("VRT_CamGetRelay {h} 1").fields.at("name"), "\"Wiper\"");
    }
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
    s.Unload();
  });
}

// A pulse still running when the library is unloaded is ended then: the
// relay's off command goes out before the port closes, so that no washer
// or lamp stays on with no driver left to switch it off.
TEST_F(WineHostTest, UnloadEndsARelayPulseStillRunning) {
  constexpr int kCom = 36;
  const Transcript t = RunBoth([](Session& s) {
    StartCamera(s, kCom);
    EXPECT_EQ(s.Call("VRT_CamSetRelay {h} 0 3 5000").result, 1);
    EXPECT_EQ(s.Wire(kCom), (Lines{"@5,18"}));
    const int64_t took = s.TimedUnload(20000);
    ASSERT_GE(took, 0) << "the unload did not return";
    EXPECT_LT(took, 2000);
    ASSERT_TRUE(s.Sim(kCom).WaitForLines(1, 2000));
    EXPECT_EQ(s.Wire(kCom), (Lines{"@6,18"}));
    EXPECT_EQ(s.Sim(kCom).State(128, 5).aux1, false);
  });
  const auto off =
      std::find(t.log.begin(), t.log.end(), "RELAY.Set: Relay 'Relay1' SUCCESFULLY set to state 0");
  ASSERT_NE(off, t.log.end());
  EXPECT_LT(off, std::find(t.log.begin(), t.log.end(), "COMM.Close: Connection 'Line 1' closed"));
}

// A line feed in a message goes into the log as CR LF, and a CR LF that a
// host's text already holds stays CR LF: the same bytes on both systems.
TEST_F(WineHostTest, LineEndsInsideLogMessages) {
  constexpr int kCom = 34;
  const Transcript t = RunBoth([](Session& s) {
    StartCamera(s, kCom);
    EXPECT_EQ(s.Call("VRT_CamSetPrePositionName {h} \"c\\x0d\\x0ad\"").result, 1);
    EXPECT_EQ(s.Call("VRT_CamSetRelayName {h} 1 \"e\\x0af\\x0d\"").result, 1);
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
    const std::string log = ReadText(s.LogPath());
    EXPECT_NE(log.find("name = 'c\r\nd' OK."), std::string::npos) << log;
    EXPECT_NE(log.find("name: 'e\r\nf\r'\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("\r\r\n"), std::string::npos) << log;
  });
  EXPECT_TRUE(HasLine(t.log, "d' OK."));
  // In the file both names are kept whole, in character references.
  EXPECT_NE(t.settings.find("<Name value=\"c&#13;&#10;d\">"), std::string::npos) << t.settings;
}

}  // namespace
}  // namespace q7wine
