-- Hud: the text of both rooms, drawn from pictures. A room makes one with Hud:new() in its Init
-- and calls it from its own Render, which runs after every instance's, so the text stays on top.
-- It is not put in instTable: nothing of it steps.
--
-- Text: numbers come from the digits.png strip (14 x 22 pixels per digit) and words are
-- pictures made by make-images.sh. With a font made by quillfen-font listed under [fonts],
-- drawNumber becomes drawText(getFontHandle("score.fnt"), tostring(value), x, y, 0, 1) and the
-- word pictures can be drawText calls the same way.

local DIGIT_WIDTH, DIGIT_HEIGHT = 14, 22

function Hud:Init()
    self.digits = getImageHandle("digits.png")
end

-- A whole number, its lower left corner at (x, y).
function Hud:drawNumber(value, x, y)
    local text = tostring(math.max(0, math.floor(value)))
    for i = 1, #text do
        local digit = text:byte(i) - 48
        drawImagePart(self.digits, x + (i - 1) * DIGIT_WIDTH, y, digit * DIGIT_WIDTH, 0, (digit + 1) * DIGIT_WIDTH,
            DIGIT_HEIGHT)
    end
end

-- A picture {image = handle, width = pixels} centred on x; scripts cannot ask an image its size.
function Hud:drawCentred(picture, x, y)
    drawImage(picture.image, x - math.floor(picture.width / 2), y)
end

function Hud:Step()
end

function Hud:Render()
end

function Hud:ShutDown()
end
