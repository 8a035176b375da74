-- Spark: two rings that grow and fade where something was caught, zapped or hit. The room sets
-- its place and colour right after Spark:new().

function Spark:Init()
    self.x, self.y = 0, 0
    self.red, self.green, self.blue = 255, 255, 255
    self.age = 0
end

function Spark:Step()
    self.age = self.age + 1
    if self.age > 24 then
        self.dead = true
    end
end

function Spark:Render()
    setRenderColor(self.red, self.green, self.blue, 255 - self.age * 10)
    drawCircle(math.floor(self.x), math.floor(self.y), 4 + self.age * 1.5, false)
    drawCircle(math.floor(self.x), math.floor(self.y), 2 + self.age * 0.8, false)
    setRenderColor(255, 255, 255, 255)
end

function Spark:ShutDown()
end
