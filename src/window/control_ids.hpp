#pragma once
// The main window's control and command ids: the one place they are defined.

namespace q70::window::id {

inline constexpr int DialogOK = 1;      // Enter: ends the dialog, writes nothing
inline constexpr int DialogCancel = 2;  // Esc and the close box

inline constexpr int FirmwarePath = 1003;
inline constexpr int RadioFull = 1005;
inline constexpr int RadioProgram = 1006;
inline constexpr int Update = 1007;
inline constexpr int Reset = 1008;
inline constexpr int OK = 1009;
inline constexpr int Cancel = 1010;
inline constexpr int Apply = 1011;
inline constexpr int MaintenanceFrame = 1024;
inline constexpr int FirmwareVersion = 1025;
inline constexpr int FirmwareNameLabel = 1026;
inline constexpr int FileSelect = 1027;
inline constexpr int FirmwareVersionLabel = 1044;
inline constexpr int HiddenFrame = 1051;
inline constexpr int Progress = 1052;
inline constexpr int ProgressText = 1053;
inline constexpr int ProgressFrame = 1055;
inline constexpr int TimeStampFrame = 1056;
inline constexpr int TimeStampDisable = 1057;
inline constexpr int TimeStampEnable = 1058;
inline constexpr int PrintModeFrame = 1059;
inline constexpr int PrintModeOriginal = 1060;
inline constexpr int PrintModeMatch = 1061;
inline constexpr int MarginFrame = 1062;
inline constexpr int MarginDisable = 1063;
inline constexpr int MarginEnable = 1064;
inline constexpr int SaveModeFrame = 1065;
inline constexpr int SaveModeOriginal = 1066;
inline constexpr int SaveModeMatch = 1067;
inline constexpr int PaperFrame = 1068;
inline constexpr int PaperA4 = 1069;
inline constexpr int PaperLetter = 1070;
inline constexpr int DatePicker = 1071;
inline constexpr int TimePicker = 1072;
inline constexpr int AspectFrame = 1073;
// Labels that screen readers name the date and time pickers by; never shown.
inline constexpr int DateLabel = 1074;
inline constexpr int TimeLabel = 1075;

inline constexpr int CmdEnglish = 32771;
inline constexpr int CmdJapanese = 32772;
inline constexpr int CmdChinese = 32773;
inline constexpr int CmdToggleMaintenance = 32774;
// The context menu's entry that has the built-in simulated board scan a test image.
inline constexpr int CmdScanTestImage = 32775;

// Result with which the OK path ends the dialog after the date and time were acknowledged.
inline constexpr int ResultWritten = 0;

}  // namespace q70::window::id
