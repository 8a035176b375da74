-- Ship: the player. The arrow keys fly it around the play area below the HUD bar (letters are
-- the room's: S saves, L loads, H hard mode). After a rock hit it blinks for a second and
-- cannot be hit again meanwhile.

local SPEED = 4

function Ship:Init()
    self.image = getImageHandle("ship.png")
    self.x, self.y = 320, 80
    self.hurt = 0     -- steps left of blinking
    self.flicker = 0  -- drives the engine flame
end

function Ship:Step()
    if gameOver then
        return
    end
    if keyDown(KEY_LEFT) then self.x = self.x - SPEED end
    if keyDown(KEY_RIGHT) then self.x = self.x + SPEED end
    if keyDown(KEY_UP) then self.y = self.y + SPEED end
    if keyDown(KEY_DOWN) then self.y = self.y - SPEED end
    self.x = math.max(16, math.min(624, self.x))
    self.y = math.max(20, math.min(420, self.y))
    self.flicker = self.flicker + 1
    if self.hurt > 0 then
        self.hurt = self.hurt - 1
    end
end

function Ship:Render()
    if gameOver or (self.hurt > 0 and self.hurt % 8 < 4) then
        return
    end
    local x, y = math.floor(self.x), math.floor(self.y)
    setRenderColor(255, 140 + (self.flicker * 37) % 100, 40, 220)
    drawCircle(x, y - 17 - self.flicker % 3, 3, true)
    setRenderColor(255, 255, 255, 255)
    drawImage(self.image, x - 16, y - 16)
end

function Ship:ShutDown()
end
