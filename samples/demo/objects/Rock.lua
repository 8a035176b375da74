-- Rock: tumbles down; costs the ship a life when they meet. A click zaps it for 5 points.

Rock.kind = "rock"

function Rock:Init()
    self.image = getImageHandle("rock.png")
    self.scale = math.random() < 0.3 and 1.5 or 1
    self.radius = 11 * self.scale
    self.x, self.y = math.random(20, 620), 460
    self.speed = (1.5 + math.random() * 2) * (hardMode and 1.6 or 1)
    self.angle = math.random(0, 359)
    self.spin = math.random(-3, 3)
end

function Rock:Step()
    self.y = self.y - self.speed
    self.angle = self.angle + self.spin
    if self.y < -24 then
        self.dead = true
    end
end

function Rock:Render()
    local half = 12 * self.scale
    drawImageExt(self.image, math.floor(self.x - half), math.floor(self.y - half), self.angle, self.scale)
end

function Rock:ShutDown()
end
