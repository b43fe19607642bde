// Message boxes of the updater: the Windows-style texts, captions, button
// sets and icons of app/message_box.h shown as QMessageBox, answered with
// kIdOk, kIdYes and the rest. GUI thread only.
#pragma once

#include <QMessageBox>
#include <string>

class QWidget;

// Builds the box (not shown) for a style; the caller may run or inspect it.
QMessageBox* CreateTideMessageBox(QWidget* pOwner, const std::string& strText,
                                  const std::string& strCaption, unsigned nStyle);
// The answer for the button that closed the box; the style's "no" answer
// (or kIdOk for an OK box) when it was closed otherwise.
int TideMessageBoxAnswer(QMessageBox* pBox, unsigned nStyle);
// Runs a box modally over pOwner and returns its answer.
int ShowTideMessageBox(QWidget* pOwner, const std::string& strText, const std::string& strCaption,
                       unsigned nStyle);
