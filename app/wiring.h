#pragma once

class QCoreApplication;
class GameUpdater;
class SaveManager;
class progressBar;
class textPerso;
struct LauncherWindow;

// Makes the launcher's 21 connections, in their fixed order. After this the
// objects only talk through them.
void wireLauncher(QCoreApplication &app, GameUpdater &updater, SaveManager &saves, const LauncherWindow &window, textPerso &status,
                  progressBar &progress);
