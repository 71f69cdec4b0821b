#pragma once

#include "views/FilterBar.h"
#include "views/ProxyGrid.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>

// The main window's controls, found by their object names as a user's tools would find them.
namespace ui {

template <typename T> T* named(const QObject& window, const char* name)
{
    T* found = window.findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no control named %s", name);
    return found;
}

#define CORVATEL_CONTROL(Type, Name)                                                               \
    inline Type* Name(const QObject& window)                                                       \
    {                                                                                              \
        return named<Type>(window, #Name);                                                         \
    }

CORVATEL_CONTROL(ProxyGrid, MSH)
CORVATEL_CONTROL(ProxyGrid, MSH2)
CORVATEL_CONTROL(ProxyGrid, MSHi)
CORVATEL_CONTROL(ProxyGrid, MSHi2)
CORVATEL_CONTROL(QRadioButton, Option1)
CORVATEL_CONTROL(QRadioButton, Option2)
CORVATEL_CONTROL(FilterBar, frame)
CORVATEL_CONTROL(QComboBox, cboLOC)
CORVATEL_CONTROL(QComboBox, cboTYPE)
CORVATEL_CONTROL(QComboBox, cboCLASS)
CORVATEL_CONTROL(QLabel, Label1)
CORVATEL_CONTROL(QLabel, Label2)
CORVATEL_CONTROL(QLineEdit, txtMinSpeed)
CORVATEL_CONTROL(QLineEdit, txtMaxSpeed)
CORVATEL_CONTROL(QPushButton, cmdFilter)
CORVATEL_CONTROL(QPushButton, cmdReset)
CORVATEL_CONTROL(QPlainTextEdit, txtSTAT)
CORVATEL_CONTROL(QProgressBar, ProgressBar1)
CORVATEL_CONTROL(QTimer, timerPTest)
CORVATEL_CONTROL(QTimer, Timer1)
CORVATEL_CONTROL(QSystemTrayIcon, TrayX1)
CORVATEL_CONTROL(QToolButton, picTWITTER)
CORVATEL_CONTROL(QToolButton, picFB)
CORVATEL_CONTROL(QMenu, menuTools)
CORVATEL_CONTROL(QMenu, menuHelp)
CORVATEL_CONTROL(QAction, menuImpProxList)
CORVATEL_CONTROL(QAction, menuImpProxSource)
CORVATEL_CONTROL(QAction, menuExport)
CORVATEL_CONTROL(QAction, menuRefresh)
CORVATEL_CONTROL(QAction, menuStop)
CORVATEL_CONTROL(QAction, menuSetup)
CORVATEL_CONTROL(QAction, menuExit)
CORVATEL_CONTROL(QAction, menuTestProxy)
CORVATEL_CONTROL(QAction, menuPROXON)
CORVATEL_CONTROL(QAction, menuPROXOFF)
CORVATEL_CONTROL(QAction, menuJudges)

#undef CORVATEL_CONTROL

} // namespace ui
