// The window's event handlers: start-up wiring and the ways a picture comes in (drop, double-click,
// button, paste).
#pragma once

#include "app/main_window.h"
#include "util/text.h"

#include <QString>
#include <optional>

class QMimeData;

namespace quillore {

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

// What a paste would send: image data as PNG bytes, else the first local file of a file list as its
// bytes. Nothing when the data holds neither.
std::optional<Bytes> PastedPicture(const QMimeData* data);

// The whole file, by the name as the file system spells it; empty bytes when it cannot be read.
Bytes ReadFileBytes(const QString& fileName);
// The first path of a FilesDropped text: the text up to its first CR LF.
QString FirstDroppedFile(const QString& paths);

} // namespace quillore
