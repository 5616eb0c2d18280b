// The window's event handlers: start-up wiring and the ways a picture comes in (drop, double-click,
// button, paste, screen capture).
#pragma once

#include "app/main_window.h"
#include "util/text.h"

#include <QKeyCombination>
#include <QString>
#include <optional>

class QImage;
class QMimeData;

namespace quillore {

// The key in the window that starts a screen capture; the edit box has no use for it.
inline constexpr QKeyCombination kCaptureKey(Qt::Key_F5);
// How long the window stays hidden before the screen is grabbed, so that it is not in the picture.
inline constexpr int kHideBeforeCaptureMs = 250;
// Set on the window while its capture runs.
inline constexpr char kCapturingProperty[] = "quilloreCapturing";

// Connects the window's events to the handlers below.
void WireHandlers(MainWindow& window);

// Sets ServiceUrl from the configuration and registers the drop target for the whole window.
void OnWindowCreated(MainWindow& window);
// Recognises the first of the dropped files, then shows its bare picture and hides the hint.
void OnFilesDropped(MainWindow& window, const QString& paths);
// Opens the dialog (default extension "*.*" from now on) and does what a drop does with the file.
void OnHintDoubleClicked(MainWindow& window, int x, int y, int keyState);
// Opens the dialog and recognises the file; the drawings and the hint stay.
void OnOpenClicked(MainWindow& window);
// Ctrl+V or Shift+Insert: a picture on the clipboard takes a drop's way. Returns false, changing
// nothing, when the clipboard holds no picture.
bool OnPasteKey(MainWindow& window);
// Recognises a file named at start the way a drop does.
void OnStartFile(MainWindow& window, const QString& fileName);
// A captured region (PNG bytes), here or from another process: the window comes forward and takes a
// drop's way; with "copy = capture" or "always" the text goes to the clipboard too.
void OnCapturedPicture(MainWindow& window, const Bytes& png);
// The capture key: the window hides, the user picks a region, the window shows again and recognises
// it. Esc or a click without a drag shows the window unchanged.
void OnCaptureKey(MainWindow& window);

// An image as PNG bytes; empty for a null image.
Bytes PngBytes(const QImage& image);

// What a paste would send: image data as PNG bytes, else the first local file of a file list as its
// bytes. Nothing when the data holds neither.
std::optional<Bytes> PastedPicture(const QMimeData* data);

// The whole file, by the name as the file system spells it; empty bytes when it cannot be read.
Bytes ReadFileBytes(const QString& fileName);
// The first path of a FilesDropped text: the text up to its first CR LF.
QString FirstDroppedFile(const QString& paths);

} // namespace quillore
