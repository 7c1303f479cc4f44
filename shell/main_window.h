// The program's one window: an article in the left view, and a fresh shuffle of it in the right
// view at every press of the button beneath them. The article is the built-in sample, shuffled
// with the window's own shuffle, until the user opens one (a file given at start, Ctrl+O, a file
// dropped on the window, or Ctrl+V: the clipboard's HTML, else its text with each line a
// paragraph); an opened article is shuffled keeping its layout. Ctrl+S saves the shuffled page
// the right view shows.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>

// Widget names of the controls, by which tests find them.
inline constexpr char kLeftViewName[] = "超文本浏览框2";
inline constexpr char kRightViewName[] = "超文本浏览框1";
inline constexpr char kShuffleButtonName[] = "按钮1";

// Creates the main window hidden with its controls, runs OnMainWindowCreated, then shows it.
// With `article_path`, the window opens on that article instead of the sample; when it cannot be
// opened, the window opens on the sample and a message says why. Esc and the close button
// destroy the window; what that ends is the caller's choice.
GtkWidget* OpenMainWindow(const std::string& article_path = {});

// Writes the window's article (the sample unless one was opened) to backup.html and navigates
// the left view there, whether or not the write succeeded.
void OnMainWindowCreated(WebKitWebView* left_view);

// Writes a fresh shuffle of the window's article to index.html and navigates the right view
// there, whether or not the write succeeded.
void OnShuffleButtonClicked(GtkButton* button, WebKitWebView* right_view);

// Makes the file at `path` the window's article: written to backup.html as its own bytes, shown
// in the left view read in its encoding, the right view cleared. True when opened; otherwise a
// message in Chinese says why, and the window keeps the article it had.
bool OpenArticle(GtkWidget* window, const std::string& path);
