-- 10,000 objects of one class whose update moves x and y, as a LÖVE game would write them.
-- Prints the mean milliseconds of love.update over 300 frames, then quits.
local Mover = {}
Mover.__index = Mover
function Mover.new(i)
  return setmetatable({x = i % 640, y = i % 480, dx = 1, dy = -1}, Mover)
end
function Mover:update()
  self.x = self.x + self.dx
  self.y = self.y + self.dy
  if self.x < 0 or self.x > 640 then self.dx = -self.dx end
  if self.y < 0 or self.y > 480 then self.dy = -self.dy end
end

local objects = {}
for i = 1, 10000 do objects[i] = Mover.new(i) end

local frames, total = 0, 0
function love.update(dt)
  local start = love.timer.getTime()
  for _, o in pairs(objects) do o:update() end
  total = total + (love.timer.getTime() - start)
  frames = frames + 1
  if frames == 300 then
    io.write(string.format("update-ms %.4f\n", total * 1000 / frames))
    io.flush()
    love.event.quit()
  end
end
