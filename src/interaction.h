// SPDX-License-Identifier: MIT
// The pop-up menu and the keyboard.
#ifndef QUENDAL_INTERACTION_H
#define QUENDAL_INTERACTION_H

void buildPopupMenu();
void menuHandler(int value);
void keyboardHandler(unsigned char key, int x, int y);
void specialKeyHandler(int key, int x, int y);

#endif
