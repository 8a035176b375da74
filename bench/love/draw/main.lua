-- Draws N filled circles, N filled 16x16 rectangles or N 32x32 images a frame (workload and N
-- from the command line) at the same places as the engine's side of draw_bench. After 20
-- warm-up frames it counts frames for the given seconds, prints "love-fps F" and quits.
local workload, count, seconds = "circles", 1000, 2
local image
local bench = require("unthrottled")  -- love.run without its sleep; countFrame

function love.load(args)
  workload = args[1] or workload
  count = tonumber(args[2]) or count
  seconds = tonumber(args[3]) or seconds
  image = love.graphics.newImage("sprite.png")
end

function love.draw()
  local g = love.graphics
  if workload == "circles" then
    g.setColor(200 / 255, 120 / 255, 40 / 255, 1)
    for i = 1, count do g.circle("fill", (i * 7) % 608 + 16, (i * 13) % 448 + 16, 10, 31) end
  elseif workload == "rectangles" then
    g.setColor(40 / 255, 200 / 255, 120 / 255, 1)
    for i = 1, count do g.rectangle("fill", (i * 7) % 608, (i * 13) % 448, 16, 16) end
  else
    for i = 1, count do g.draw(image, (i * 7) % 608, (i * 13) % 448) end
  end
  g.setColor(1, 1, 1, 1)
  bench.countFrame(seconds)
end
