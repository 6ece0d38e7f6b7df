#include "config/text_catalogue.hpp"

#include "config/ini_file.hpp"
#include "config/paths.hpp"
#include "config/startup.hpp"
#include "config/text_decoding.hpp"

namespace q70::config {

namespace {

constexpr std::string_view kTitle = "TitleText";
constexpr std::string_view kGeneral = "General";
constexpr std::string_view kMenu = "MenuText";
constexpr std::string_view kCaption = "DialogCaption";
constexpr std::string_view kMessage = "MessageText";

using K = TextKey;

constexpr std::array<TextEntry, kTextCount> kTable = {{
    {K::UtilityDialogTitle, kTitle, "UtilityDialogTitle", "Q-70 Series Setup Utility Ver.", false},
    {K::Version, kGeneral, "Version", "1.00", false},
    {K::MenuEnglish, kMenu, "MenuEnglish", "&English", false},
    {K::MenuJapanese, kMenu, "MenuJapanese", "&Japanese", false},
    {K::MenuChinese, kMenu, "MenuChinese", "&Chinese", false},
    {K::ButtonReset, kCaption, "ButtonReset", "Reset", false},
    {K::ButtonOK, kCaption, "ButtonOK", "OK", false},
    {K::ButtonCancel, kCaption, "ButtonCancel", "Cancel", false},
    {K::ButtonApply, kCaption, "ButtonApply", "Apply", false},
    {K::ButtonUpgrade, kCaption, "ButtonUpgrade", "Update", false},
    {K::ButtonFileSelect, kCaption, "ButtonFileSelect", "...", false},
    {K::ButtonClose, kCaption, "ButtonClose", "Close", false},
    {K::LabelFirmVersionVal, kCaption, "LabelFirmVersionVal", "V1.10", true},
    {K::LabelFirmName, kCaption, "LabelFirmName", "Update File Name", false},
    {K::LabelFirmVersion, kCaption, "LabelFirmVersion", "Firmware Version", false},
    {K::LabelScanLineDotsVal, kCaption, "LabelScanLineDotsVal", "", true},
    {K::LabelFeedLinesVal, kCaption, "LabelFeedLinesVal", "", true},
    {K::LabelDeviceTypeVal, kCaption, "LabelDeviceTypeVal", "", true},
    {K::LabelFeedLines, kCaption, "LabelFeedLines", "Feed Lines", false},
    {K::LabelDeviceType, kCaption, "LabelDeviceType", "Device Type", false},
    {K::FrameMaintenance, kCaption, "FrameMaintenance", "Maintenance Functions", false},
    {K::FramePrintMode, kCaption, "FramePrintMode", "Print Setting", false},
    {K::FrameSaveMode, kCaption, "FrameSaveMode", "Save Setting", false},
    {K::FrameTimeStamp, kCaption, "FrameTimeStamp", "Time Stamp", false},
    {K::FrameMargin, kCaption, "FrameMargin", "Binding Margin", false},
    {K::FramePaper, kCaption, "FramePaper", "Paper Size", false},
    {K::FrameAspect, kCaption, "FrameAspect", "Aspect Ratio", false},
    {K::RadioFull, kCaption, "RadioFull", "Full", false},
    {K::RadioProgram, kCaption, "RadioProgram", "Program", false},
    {K::RadioTimeStampEnable, kCaption, "RadioTimeStampEnable", "Enable", false},
    {K::RadioTimeStampDisable, kCaption, "RadioTimeStampDisable", "Disable", false},
    {K::RadioMarginEnable, kCaption, "RadioMarginEnable", "Enable", false},
    {K::RadioMarginDisable, kCaption, "RadioMarginDisable", "Disable", false},
    {K::RadioOriginalImage, kCaption, "RadioOriginalImage", "Original Image", false},
    {K::RadioMatchPaperSize, kCaption, "RadioMatchPaperSize", "Match Paper Size", false},
    {K::RadioA4, kCaption, "RadioA4", "A4", false},
    {K::RadioLetter, kCaption, "RadioLetter", "Letter", false},
    {K::MsgFileOpenError, kMessage, "MsgFileOpenError", "Unable to open the file:", false},
    {K::MsgUSBOpenError, kMessage, "MsgUSBOpenError",
     "USB could not be opened ! Please make sure USB cable has been firmly plugged in, Q-70 USB "
     "driver has been correctly installed and Q-70 has been powered on normally.",
     false},
    {K::MsgSendPktError, kMessage, "MsgSendPktError",
     "Send packet through Q-70 Bulk-out endpoint failed ! Please check USB connection again.",
     false},
    {K::MsgReceivePktError, kMessage, "MsgReceivePktError",
     "Receive packet through Q-70 Bulk-in endpoint failed ! Please check USB connection again.",
     false},
    {K::MsgReceiveBadPkt, kMessage, "MsgReceiveBadPkt", "Receive bad packet from Q-70 !", false},
    {K::MsgScanInProgress, kMessage, "MsgScanInProgress", "Image Scan is in progress...", false},
    {K::MsgUpgradeInProgress, kMessage, "MsgUpgradeInProgress", "Firmware update is in progress...",
     false},
    {K::MsgComplete, kMessage, "MsgComplete", "Completed.", false},
    {K::MsgSaveImage, kMessage, "MsgSaveImage",
     "Do you want to save the RDB test image into file ?", false},
    {K::MsgSetWOK, kMessage, "MsgSetWOK", "Writing set data into Q-70 flash memory succeeded !",
     false},
    {K::MsgSetWNG, kMessage, "MsgSetWNG", "Writing set data into Q-70 flash memory failed !",
     false},
    {K::MsgFirmUpOK, kMessage, "MsgFirmUpOK", "Q-70 firmware update succeeded !", false},
    {K::MsgFirmUpNG, kMessage, "MsgFirmUpNG", "Q-70 firmware update failed !", false},
    {K::MsgBadSTypeFile, kMessage, "MsgBadSTypeFile", "Bad S format file !", false},
    {K::MsgDeviceBusy, kMessage, "MsgDeviceBusy",
     "Q-70 is in use by another program. The utility will connect to it as soon as it is "
     "free.",
     false},
    {K::LabelDate, kCaption, "LabelDate", "Date", false},
    {K::LabelTime, kCaption, "LabelTime", "Time", false},
    {K::MenuScanTestImage, kMenu, "MenuScanTestImage", "&Scan a test image", false},
    // Why a firmware file was not sent.
    {K::MsgFirmPathTooLong, kMessage, "MsgFirmPathTooLong",
     "The path of the firmware file is too long to be sent to Q-70 (at most 896 bytes):", false},
    {K::MsgFirmFileTooLarge, kMessage, "MsgFirmFileTooLarge",
     "The firmware file is larger than 64 MiB, more than any Q-70 firmware:", false},
}};

}  // namespace

const std::array<TextEntry, kTextCount>& textTable() {
    return kTable;
}

const TextEntry& entry(TextKey key) {
    return kTable[static_cast<std::size_t>(key)];
}

void TextCatalogue::loadTexts(const std::string& iniPath, bool full) {
    const IniFile ini = IniFile::load(pathFromUtf8(iniPath));
    fileLanguage_ = ini.getString("General", "Language", kDefaultLanguage, kStartupBufferSize);
    for (const TextEntry& e : kTable) {
        // The start-only rows keep what they hold on a reload: field 13 carries the
        // board's firmware version by then.
        if (e.startOnly && !full) continue;
        set(e.key, ini.getString(e.section, e.name, e.defaultText, kTextBufferSize));
    }
}

void TextCatalogue::loadDefaults() {
    for (const TextEntry& e : kTable) set(e.key, std::string(e.defaultText));
}

void TextCatalogue::loadOpenErrorTexts(const std::string& iniPath) {
    const IniFile ini = IniFile::load(pathFromUtf8(iniPath));
    fileLanguage_ = ini.getString("General", "Language", kDefaultLanguage, kStartupBufferSize);
    for (const TextKey key : {TextKey::MsgUSBOpenError, TextKey::MsgDeviceBusy}) {
        const TextEntry& e = entry(key);
        set(e.key, ini.getString(e.section, e.name, e.defaultText, kTextBufferSize));
    }
}

std::string TextCatalogue::utf8(TextKey key) const {
    return toUtf8(get(key), fileLanguage_);
}

}  // namespace q70::config
