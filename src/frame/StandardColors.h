#pragma once

class QWidget;

// Gives the window and every option button, check box, group frame and label on it the
// system button-face colour.
void ApplyStandardColors(QWidget* window);
