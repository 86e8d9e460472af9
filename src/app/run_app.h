#pragma once

#include <QString>
#include <functional>

class QuorvelApp;
class SingleInstance;

// How the app comes up: with its main window, or in the background (the tray
// item alone), as a shortcut's capture starts it.
enum class AppStart { mainWindow, background };

// Readies the QApplication for Quorvel's windows: its display name and the
// style its menus are drawn with. Whatever path shows our windows calls it
// once, right after making the QApplication.
void prepareApplication();

// Runs the app until it quits: a QuorvelApp answering `instance`'s bus
// methods, shown as `start` says. `first`, when given, runs once the app is
// up; a reason it returns is printed and ends the run with exitFailure.
// Editor windows still open go before the app does.
int runApp(SingleInstance& instance, AppStart start,
           const std::function<QString(QuorvelApp&)>& first = {});
