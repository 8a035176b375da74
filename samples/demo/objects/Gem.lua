-- Gem: falls and spins until the ship flies into it or a click picks it up. Green gems are
-- worth 10 points, the rarer gold ones 25. Hard mode makes them fall faster.

Gem.kind = "gem"

function Gem:Init()
    self.gold = math.random() < 0.2
    self.image = getImageHandle(self.gold and "gold.png" or "gem.png")
    self.value = self.gold and 25 or 10
    self.radius = 10
    self.x, self.y = math.random(20, 620), 440
    self.speed = (1.2 + math.random() * 1.5) * (hardMode and 1.6 or 1)
    self.angle = math.random(0, 359)
    self.spin = math.random(-4, 4)
end

function Gem:Step()
    self.y = self.y - self.speed
    self.angle = self.angle + self.spin
    if self.y < -16 then
        self.dead = true  -- the room removes dead instances after the step
    end
end

function Gem:Render()
    drawImageExt(self.image, math.floor(self.x) - 8, math.floor(self.y) - 8, self.angle, 1)
end

function Gem:ShutDown()
end
