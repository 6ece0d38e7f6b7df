#pragma once
// Every user-visible text of the program by its INI key, with its built-in English
// default. The table order is the order LoadTexts reads them in.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace q70::config {

enum class TextKey : std::size_t {
    UtilityDialogTitle,
    Version,
    MenuEnglish,
    MenuJapanese,
    MenuChinese,
    ButtonReset,
    ButtonOK,
    ButtonCancel,
    ButtonApply,
    ButtonUpgrade,
    ButtonFileSelect,
    ButtonClose,
    LabelFirmVersionVal,  // also holds the firmware version the board reports
    LabelFirmName,
    LabelFirmVersion,
    LabelScanLineDotsVal,
    LabelFeedLinesVal,
    LabelDeviceTypeVal,
    LabelFeedLines,
    LabelDeviceType,
    FrameMaintenance,
    FramePrintMode,
    FrameSaveMode,
    FrameTimeStamp,
    FrameMargin,
    FramePaper,
    FrameAspect,
    RadioFull,
    RadioProgram,
    RadioTimeStampEnable,
    RadioTimeStampDisable,
    RadioMarginEnable,
    RadioMarginDisable,
    RadioOriginalImage,
    RadioMatchPaperSize,
    RadioA4,
    RadioLetter,
    MsgFileOpenError,
    MsgUSBOpenError,
    MsgSendPktError,
    MsgReceivePktError,
    MsgReceiveBadPkt,
    MsgScanInProgress,
    MsgUpgradeInProgress,
    MsgComplete,
    MsgSaveImage,
    MsgSetWOK,
    MsgSetWNG,
    MsgFirmUpOK,
    MsgFirmUpNG,
    MsgBadSTypeFile,
    MsgDeviceBusy,
    // What screen readers name the date and time pickers by, and the context menu's entry
    // that has the built-in simulated board scan a test image.
    LabelDate,
    LabelTime,
    MenuScanTestImage,
    // Why a firmware file was not sent, where the older texts named the wrong cause.
    MsgFirmPathTooLong,
    MsgFirmFileTooLarge,
    Count
};

inline constexpr std::size_t kTextCount = static_cast<std::size_t>(TextKey::Count);  // 57

struct TextEntry {
    TextKey key;
    std::string_view section;
    std::string_view name;
    std::string_view defaultText;
    bool startOnly;  // read only by the LoadTexts of the window's initialisation
};

// The 57 rows, in reading order.
const std::array<TextEntry, kTextCount>& textTable();
const TextEntry& entry(TextKey key);

class TextCatalogue {
  public:
    // Every field starts empty, as before the program's entry point.
    TextCatalogue() = default;

    const std::string& get(TextKey key) const { return texts_[static_cast<std::size_t>(key)]; }
    void set(TextKey key, std::string value) {
        texts_[static_cast<std::size_t>(key)] = std::move(value);
    }

    // Reads the keys of the table from the INI file in table order (200-byte buffers);
    // rows marked start only are skipped unless `full` is set.
    void loadTexts(const std::string& iniPath, bool full);
    // Every field to its built-in default (what a missing INI file gives).
    void loadDefaults();
    // The early read of the window's initialisation: only the two texts of a failed open,
    // "MsgUSBOpenError" and "MsgDeviceBusy" (200-byte buffers), so that the device-open
    // message has its text before the catalogue loads.
    void loadOpenErrorTexts(const std::string& iniPath);

    // The [General] Language value of the file last read: the legacy code page of texts
    // that are not UTF-8 follows it.
    const std::string& fileLanguage() const { return fileLanguage_; }
    void setFileLanguage(std::string language) { fileLanguage_ = std::move(language); }
    // A text ready for display: UTF-8 whatever the file's encoding.
    std::string utf8(TextKey key) const;

  private:
    std::array<std::string, kTextCount> texts_{};
    std::string fileLanguage_;
};

}  // namespace q70::config
