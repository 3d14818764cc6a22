#pragma once
// Mock-ups of the installer's screens built from the pictures with the
// drawing code's cutting rules, for judging the art by eye.
#include <string>

#include "canvas.h"

// Writes main.png, main_installing.png, licence.png, question.png,
// alert.png, extras.png and font.png into `dir`. Returns false on a write failure.
bool write_previews(const std::string& dir, const canvas& interface_image, const canvas& atlas,
                    const canvas& background);
