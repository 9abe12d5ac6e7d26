// Widgets a touch must not change (a combo whose entry only the keys may choose).
#pragma once

class QWidget;

// Mouse presses, releases and wheel turns on w go nowhere.
void ignoreTouch(QWidget* w);
