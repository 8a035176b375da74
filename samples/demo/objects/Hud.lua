-- Hud: the text of both rooms, drawn with the two fonts of fonts/ (made by make-fonts.sh, listed
-- under [fonts] by both rooms). A room makes one with Hud:new() in its Init and calls it from its
-- own Render, which runs after every instance's, so the text stays on top. It is not put in
-- instTable: nothing of it steps.
--
-- Placing: drawText puts the top of the text's line at y (glyphs hang down from there) and the
-- pen's start at x. Centred and right-aligned texts are placed with getTextWidth, the sum of the
-- glyphs' advances, so what the game measures is what it draws.

-- Colours, red, green, blue.
GOLD = {255, 224, 122}
SHADOW = {75, 47, 154}
LABEL = {159, 180, 255}
WHITE = {255, 255, 255}
GOOD = {124, 255, 176}
BAD = {255, 122, 122}

function Hud:Init()
    self.small = getFontHandle("hud.fnt")     -- 18 pixels, printable ASCII
    self.large = getFontHandle("title.fnt")   -- 64 pixels, capitals and space only
end

-- `text` in `colour` with its line's top at y: from x (align "left", the default), centred on x
-- ("centre") or ending at x ("right"). Returns the x it started at.
function Hud:text(font, text, x, y, colour, align)
    if align == "centre" then
        x = x - math.floor(getTextWidth(font, text) / 2)
    elseif align == "right" then
        x = x - getTextWidth(font, text)
    end
    setRenderColor(colour[1], colour[2], colour[3], 255)
    drawText(font, text, x, y, 0, 1)
    setRenderColor(255, 255, 255, 255)
    return x
end

-- Big capitals centred on x with a shadow down and to the right.
function Hud:banner(text, x, y, colour)
    local left = x - math.floor(getTextWidth(self.large, text) / 2)
    self:text(self.large, text, left + 5, y - 5, SHADOW)
    self:text(self.large, text, left, y, colour)
end

-- A label and a number after it, one space apart ("SCORE 120"), aligned as a whole like text.
function Hud:counter(label, value, x, y, colour, align)
    local number = tostring(math.max(0, math.floor(value)))
    local width = getTextWidth(self.small, label .. " " .. number)
    if align == "centre" then
        x = x - math.floor(width / 2)
    elseif align == "right" then
        x = x - width
    end
    self:text(self.small, label, x, y, LABEL)
    self:text(self.small, number, x + width - getTextWidth(self.small, number), y, colour)
end

-- The key help, two centred lines from y down.
function Hud:controls(y)
    self:text(self.small, "arrows: fly    click: zap rocks", 320, y, LABEL, "centre")
    self:text(self.small, "S: save    L: load    H: hard mode    ESC: title", 320, y - 22, LABEL, "centre")
end

function Hud:Step()
end

function Hud:Render()
end

function Hud:ShutDown()
end
