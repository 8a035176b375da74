-- Star: one twinkling dot of the sky. Both rooms fill instTable with them; the room sets
-- starSpeed (pixels per step of the nearest stars) before making them.

function Star:Init()
    self.x = math.random(0, 639)
    self.y = math.random(0, 479)
    self.depth = math.random(1, 3)  -- 1 far and dim, 3 near and bright
    self.phase = math.random() * math.pi * 2
end

function Star:Step()
    self.y = self.y - (starSpeed or 0.5) * self.depth / 3
    if self.y < 0 then
        self.y = self.y + 480
        self.x = math.random(0, 639)
    end
    self.phase = self.phase + 0.04 * self.depth
end

function Star:Render()
    local glow = math.min(255, 100 + 45 * self.depth + math.floor(40 * math.sin(self.phase)))
    setRenderColor(glow, glow, 255, 255)
    local x, y = math.floor(self.x), math.floor(self.y)
    local size = self.depth == 3 and 2 or 1
    drawRectangle(x, y, x + size, y + size, true)
    setRenderColor(255, 255, 255, 255)
end

function Star:ShutDown()
end
