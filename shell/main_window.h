// The program's one window: the sample article in the left view, and a fresh shuffle of it in
// the right view at every press of the button beneath them.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

// Widget names of the controls, by which tests find them.
inline constexpr char kLeftViewName[] = "超文本浏览框2";
inline constexpr char kRightViewName[] = "超文本浏览框1";
inline constexpr char kShuffleButtonName[] = "按钮1";

// Creates the main window hidden with its controls, runs OnMainWindowCreated, then shows it.
// Esc and the close button destroy the window; what that ends is the caller's choice.
GtkWidget* OpenMainWindow();

// Writes the sample article to backup.html and navigates the left view there, whether or not
// the write succeeded.
void OnMainWindowCreated(WebKitWebView* left_view);

// Writes a fresh shuffle of the sample article to index.html and navigates the right view
// there, whether or not the write succeeded.
void OnShuffleButtonClicked(GtkButton* button, WebKitWebView* right_view);
